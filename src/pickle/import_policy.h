// How an import found in a pickle is graded: what torch's weights-only loader accepts, the
// classes a whole-model save names, known code-execution and I/O primitives, and the rest.
#pragma once

#include <string_view>

#include "base/file_scan.h"

namespace tarnwick::scan {

Grade grade_import(std::string_view module, std::string_view name);

}  // namespace tarnwick::scan
