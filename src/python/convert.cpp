#include "python/convert.h"

#include <optional>
#include <ostream>

#include "python/embedded_scripts.h"
#include "python/python_runner.h"

namespace tarnwick {

Status convert_command(const Args& args, Io& io) {
  std::optional<std::string> source, output;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--out" || arg == "-o") {
      if (i + 1 == args.size()) return fail("--out needs a path");
      output = args[++i];
    } else if (arg.starts_with("--")) {
      return fail("unknown convert option `" + arg + "`");
    } else if (source) {
      return fail("convert takes one source path");
    } else {
      source = arg;
    }
  }
  if (!source) return fail("usage: tarnwick convert <model.pkl|mlflow-model-dir> [--out path]");

  std::vector<std::string> script_args = {"-c", std::string(convert_model_script), *source};
  if (output) script_args.push_back(*output);
  CandidateOutcome outcome = try_python_candidates(script_args);
  if (outcome.output) {
    io.out << *outcome.output;
    return Status::ok();
  }
  std::string tried;
  for (std::size_t i = 0; i < outcome.records.size(); ++i) tried += (i ? "\n" : "") + outcome.records[i];
  return fail(
      "convert needs Python with the model's library installed (lightgbm or catboost).\n"
      "Point VESPRINE_PYTHON at a suitable interpreter. Tried:\n" +
      tried);
}

}  // namespace tarnwick
