// JSON taken from a tensor file's header: strict syntax and UTF-8, and no key given twice.
#pragma once

#include <string_view>

#include "base/decode_budget.h"
#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

// Fails with "invalid JSON: {parser message}" or "duplicate key \"{key}\"". Values nested past
// DecodeBudget::kMaxValueNesting, or more of them than the text's budget allows, are refused as
// invalid JSON.
Result<OrderedJson> parse_strict_json(std::string_view text);
Result<OrderedJson> parse_strict_json(std::string_view text, DecodeBudget& budget);

}  // namespace tarnwick
