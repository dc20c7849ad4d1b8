// The Hugging Face `config.json` that sits beside a checkpoint, when there is a usable one.
#pragma once

#include <cstdint>
#include <string>

#include "main/json_output.h"

namespace tarnwick {

inline constexpr std::uint64_t kSiblingConfigCap = std::uint64_t{1} << 20;

// `config.json` in the directory `checkpoint_path` names, or in the directory of the file it
// names (a safetensors file or index). A JSON object, or null Json when the file is absent, not
// a regular file, larger than kSiblingConfigCap, unreadable or not a strict JSON object: the
// config only adds stated figures, so its absence is never an error.
Json read_sibling_config(const std::string& checkpoint_path);

}  // namespace tarnwick
