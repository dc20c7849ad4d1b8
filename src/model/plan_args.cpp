#include "model/plan_args.h"

namespace tarnwick {

Result<std::string> single_plan_path(const Args& args, const char* usage) {
  if (args.empty()) return fail(usage);
  if (args.size() > 1) return fail("unexpected argument `" + args[1] + "`");
  return args.front();
}

Result<AnalysedPlan> load_and_analyse(const Args& args, const char* usage) {
  Result<std::string> path = single_plan_path(args, usage);
  if (!path.is_ok()) return path.error();
  Result<Model> model = load_model(path.value());
  if (!model.is_ok()) return model.error();
  Result<ModelAnalysis> analysis = analyze_model(model.value());
  if (!analysis.is_ok()) return analysis.error();
  return AnalysedPlan{model.take(), analysis.take()};
}

}  // namespace tarnwick
