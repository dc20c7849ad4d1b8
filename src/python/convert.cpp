#include "python/convert.h"

#include <filesystem>
#include <optional>
#include <ostream>

#include "python/embedded_scripts.h"
#include "python/python_runner.h"

namespace tarnwick {

namespace {

// The output path the conversion script picks when none is given: "model{ext}" inside a
// directory source, else the source with its extension replaced (leading dots of the name are
// not an extension).
std::string default_output(const std::string& source, const std::string& extension) {
  std::string stripped = source;
  while (stripped.size() > 1 && stripped.back() == '/') stripped.pop_back();
  std::error_code error;
  if (std::filesystem::is_directory(stripped, error)) return stripped + "/model" + extension;
  std::size_t name_start = stripped.rfind('/') == std::string::npos ? 0 : stripped.rfind('/') + 1;
  std::size_t dot = stripped.rfind('.');
  std::size_t first_non_dot = stripped.find_first_not_of('.', name_start);
  if (dot != std::string::npos && dot >= name_start && first_non_dot < dot) stripped.erase(dot);
  return stripped + extension;
}

// A LightGBM model is written as .txt and a CatBoost model as .cbm; either may land on the source.
bool output_may_overwrite_source(const std::string& source, const std::optional<std::string>& output) {
  for (const char* extension : {".txt", ".cbm"}) {
    std::error_code error;
    if (std::filesystem::equivalent(source, output ? *output : default_output(source, extension), error)) {
      return true;
    }
  }
  return false;
}

}  // namespace

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

  if (output_may_overwrite_source(*source, output)) {
    return fail("convert would overwrite its source `" + *source +
                "` with the converted model; choose another output path with --out");
  }

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
