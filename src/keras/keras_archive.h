// A Keras `.keras` file: a zip of `config.json` (the model, layer by layer), `metadata.json`
// and `model.weights.h5` (the weights, an HDF5 file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/json_output.h"
#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

struct KerasArchive {
  OrderedJson config;    // null when the archive has no config.json
  OrderedJson metadata;  // null when it has no metadata.json
  std::string weights;   // the bytes of model.weights.h5, or empty when there is none
  std::optional<std::uint64_t> weights_offset;  // where they start in the file, when stored as is
};

// The config and metadata must be strict JSON objects; every member is read within the
// decompression budget.
Result<KerasArchive> read_keras_archive(const std::string& path);

// The tensor table: every dataset of the weights file, named by its HDF5 path
// ("layers/dense/vars/0"); the metadata holds the Keras version, the model's class and its
// layers (class, name, units or filters, activation) from the config.
Result<TensorTable> read_keras_table(const std::string& path);

}  // namespace tarnwick
