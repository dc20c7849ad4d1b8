// Finds the JSON objects that CatBoost embeds in a binary model, by brace matching.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "base/decode_budget.h"

namespace tarnwick {

struct EmbeddedJsonObject {
  nlohmann::json value;
  std::size_t start = 0;  // offset of the opening brace
  std::size_t end = 0;    // one past the closing brace (of the last repeat)
  // Back-to-back copies of the same span: a run of `{}` is handed over once, not once per pair.
  std::size_t repeats = 1;
};

// Spans ascending and disjoint; spans that do not parse as one JSON document are left out.
std::vector<EmbeddedJsonObject> find_embedded_json_objects(std::string_view bytes);
// The same objects handed over one at a time, so that none has to be kept; a run of empty
// objects `{}{}...` comes as one object with its repeat count.
void for_each_embedded_json_object(std::string_view bytes, const std::function<void(EmbeddedJsonObject&&)>& visit);

// Spans nested deeper than this are not parsed: their value could not be serialised safely.
inline constexpr std::size_t kMaxEmbeddedJsonNesting = DecodeBudget::kMaxValueNesting;

}  // namespace tarnwick
