// The `check --json` document: the gate's report as one JSON document.
#pragma once

#include <string_view>

#include "base/check_rules.h"
#include "base/json_output.h"

namespace tarnwick {

// {"kind": "check", "type", "old", "new", "checks": [{"rule", "status", "old", "new", "limit",
// "message"}], "status"}; an empty "checks" list when no rule was configured.
OrderedJson check_document(std::string_view kind, const CheckOutcome& outcome);
bool all_checks_pass(const CheckOutcome& outcome);

}  // namespace tarnwick
