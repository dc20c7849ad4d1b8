// The datasets of an HDF5 file held in memory (a Keras `model.weights.h5`), read through
// libhdf5: each one's path, dtype, shape and where its bytes are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tarnwick {

struct Hdf5Dataset {
  std::string path;  // "layers/dense/vars/0"
  std::string dtype;  // canonical, or "unknown(<class>:<size>)"
  std::vector<std::uint64_t> shape;
  std::uint64_t bytes = 0;
  // A contiguous dataset's bytes lie at this offset of the image, little-endian; otherwise
  // (chunked, filtered, compact, big-endian) `elements` holds them as read, little-endian.
  std::optional<std::uint64_t> offset;
  std::optional<std::string> elements;
  std::optional<std::string> unreadable_reason;
};

// `image` is the whole HDF5 file. Datasets in the order libhdf5 visits them (by name). A file
// libhdf5 cannot open, or more datasets than its size can hold, is an error.
Result<std::vector<Hdf5Dataset>> read_hdf5_datasets(std::string_view image, const std::string& what);

}  // namespace tarnwick
