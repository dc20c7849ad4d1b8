// The Hugging Face `config.json` that sits beside a checkpoint, when there is a usable one.
#pragma once

#include <cstdint>
#include <string>

#include "base/json_output.h"
#include "tables/architecture.h"
#include "tables/tensor_file_summary.h"
#include "tables/tensor_table.h"

namespace tarnwick {

inline constexpr std::uint64_t kSiblingConfigCap = std::uint64_t{1} << 20;

// `config.json` in the directory `checkpoint_path` names, or in the directory of the file it
// names (a safetensors file or index). A JSON object, or null Json when the file is absent, not
// a regular file, larger than kSiblingConfigCap, unreadable or not a strict JSON object: the
// config only adds stated figures, so its absence is never an error.
Json read_sibling_config(const std::string& checkpoint_path);
// The figures a Hugging Face config states (`num_hidden_layers`, `hidden_size`, ...).
ArchitectureFacts config_stated_architecture(const Json& config);
// The config beside the checkpoint the table was read from, whole (null Json when none).
Json safetensors_sidecar_config(const TensorTable& table);
// Those of the config beside the checkpoint the table was read from.
ArchitectureFacts safetensors_stated_architecture(const TensorTable& table);
// The config's `head_dim`, for keys and values alike, when it states one.
HeadDims safetensors_head_dims(const TensorTable& table);

}  // namespace tarnwick
