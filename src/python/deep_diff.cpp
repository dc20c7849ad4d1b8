#include "python/deep_catboost.h"
#include "python/embedded_scripts.h"
#include "python/python_runner.h"

namespace tarnwick {

Status run_deep_catboost_diff(std::ostream& out, const std::string& old_path, const std::string& new_path) {
  CandidateOutcome outcome = try_python_candidates({"-c", std::string(catboost_deep_diff_script), old_path, new_path});
  if (outcome.output) {
    out << *outcome.output;
    return Status::ok();
  }
  std::string tried;
  for (std::size_t i = 0; i < outcome.records.size(); ++i) tried += (i ? "\n  " : "") + outcome.records[i];
  return fail("CatBoost deep diff needs Python with `catboost` installed. Tried:\n  " + tried);
}

}  // namespace tarnwick
