// How an import found in a pickle is judged: what torch's weights-only loader accepts, known
// code-execution and I/O primitives, and everything else.
#pragma once

#include <string_view>

namespace tarnwick::scan {

enum class ImportVerdict { kAllowed, kDangerous, kNotAllowed };

ImportVerdict judge_import(std::string_view module, std::string_view name);
std::string_view verdict_text(ImportVerdict verdict);  // "allowed", "dangerous", "not allowed"

}  // namespace tarnwick::scan
