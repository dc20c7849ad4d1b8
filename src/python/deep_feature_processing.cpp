#include "base/text.h"
#include "python/deep_catboost.h"
#include "python/embedded_scripts.h"
#include "python/python_runner.h"

namespace tarnwick {

namespace {

constexpr std::size_t kFallbackNames = 24;

// The last non-empty line of an interpreter's error output: the exception itself, after the
// traceback that leads to it.
std::string last_line(std::string_view text) {
  while (!text.empty()) {
    std::size_t newline = text.rfind('\n');
    std::string_view line = trim(newline == std::string_view::npos ? text : text.substr(newline + 1));
    if (!line.empty()) return std::string(line);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(0, newline);
  }
  return "failed without an error message";
}

// A candidate that started names the fault (say, a missing package); only when none started do
// the start failures explain it.
std::string first_reason(const CandidateOutcome& outcome) {
  if (outcome.first_started_candidate) {
    return *outcome.first_started_candidate + ": " + last_line(outcome.first_started_error);
  }
  const std::vector<std::string>& records = outcome.records;
  std::string joined;
  for (std::size_t i = 0; i < records.size(); ++i) joined += (i ? "\n" : "") + records[i];
  std::string_view rest = joined;
  while (!rest.empty()) {
    std::size_t newline = rest.find('\n');
    std::string_view line = trim(rest.substr(0, newline));
    if (!line.empty()) return std::string(line);
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
  }
  return "unknown";
}

}  // namespace

void print_deep_feature_processing(std::ostream& out, const std::string& model_path,
                                   const std::vector<std::string>& recovered_names) {
  CandidateOutcome outcome = try_python_candidates({"-c", std::string(catboost_feature_processing_script), model_path});
  if (outcome.output) {
    out << *outcome.output;
    return;
  }
  out << "Feature Processing:\n  Exact float/categorical feature typing unavailable.\n";
  out << "  Reason: " << first_reason(outcome) << "\n";
  out << "  Recovered feature names: " << recovered_names.size() << "\n";
  for (std::size_t i = 0; i < recovered_names.size() && i < kFallbackNames; ++i) {
    out << "    " << recovered_names[i] << "\n";
  }
  if (recovered_names.size() > kFallbackNames) {
    out << "    ... " << recovered_names.size() - kFallbackNames << " more\n";
  }
}

}  // namespace tarnwick
