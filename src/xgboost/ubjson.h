// Universal Binary JSON (UBJSON draft 12), as XGBoost writes its `.ubj` models: big-endian
// numbers, length-prefixed strings, and containers optimized with a type ('$') and a count ('#').
#pragma once

#include <string_view>

#include "base/decode_budget.h"
#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

// Decodes one value that must span all of `bytes`. Every value decoded is drawn from `budget`,
// and containers nest at most DecodeBudget::kMaxValueNesting deep, so a hostile count or depth
// is refused before it costs memory or stack. Fails with "invalid UBJSON at byte N: ...".
Result<Json> decode_ubjson(std::string_view bytes, DecodeBudget& budget);

}  // namespace tarnwick
