// Where a tensor stored as ONNX external data keeps its bytes, checked before anything reads them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tables/tensor_table.h"

namespace tarnwick {

struct ExternalTensorBytes {
  std::optional<TensorBytes> range;  // set when the bytes can be read
  std::string problem;               // otherwise why not, for the reports
};

// `entries` are the tensor's external_data key/values (location, offset, length); `own_bytes` is
// the size its dtype and shape give, when known. Without a length the range runs to `own_bytes`,
// or to the end of the file when that is unknown, as ONNX loaders read it. A location that is
// absolute or leaves `model_dir`, a missing or short file, and a length other than `own_bytes`
// are problems; the file is only looked at, never read here.
ExternalTensorBytes locate_external_bytes(const std::filesystem::path& model_dir,
                                          const std::vector<std::pair<std::string, std::string>>& entries,
                                          std::optional<std::uint64_t> own_bytes);

}  // namespace tarnwick
