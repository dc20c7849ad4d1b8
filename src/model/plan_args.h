// Argument shapes shared by the tensor-lab commands.
#pragma once

#include <string>

#include "base/io.h"
#include "base/status.h"
#include "model/analysis.h"
#include "model/model.h"

namespace tarnwick {

// Exactly one plan path: none gives `usage`, a second one "unexpected argument `{}`".
Result<std::string> single_plan_path(const Args& args, const char* usage);

struct AnalysedPlan {
  Model model;
  ModelAnalysis analysis;
};
// Loads the one plan named by `args` and analyses it.
Result<AnalysedPlan> load_and_analyse(const Args& args, const char* usage);

}  // namespace tarnwick
