// Universal Binary JSON (UBJSON draft 12), as XGBoost writes its `.ubj` models: big-endian
// numbers, length-prefixed strings, and containers optimized with a type ('$') and a count ('#').
#pragma once

#include <string_view>

#include "base/decode_budget.h"
#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

// Decodes one value that must span all of `bytes`, handing each value, key and container bound
// to `events` as nlohmann's SAX parser would (their return values are not consulted). Every value
// decoded is drawn from `budget`, and containers nest at most DecodeBudget::kMaxValueNesting
// deep, so a hostile count or depth is refused before it costs memory or stack. Duplicate keys in
// one object are refused. Fails with "invalid UBJSON at byte N: ..."; the events already handed
// on stay handed on.
Status decode_ubjson(std::string_view bytes, DecodeBudget& budget, Json::json_sax_t& events);

}  // namespace tarnwick
