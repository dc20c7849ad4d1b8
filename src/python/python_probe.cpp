#include "python/python_probe.h"

#include "base/text.h"
#include "python/python_runner.h"

namespace tarnwick {

namespace {

// Standard output of a run that exited 0, decoded and trimmed; nothing otherwise.
std::optional<std::string> trimmed_output(const std::string& program, const std::vector<std::string>& args) {
  Result<PythonRun> run = run_python(program, args);
  if (!run.is_ok() || run.value().exit_status != 0) return std::nullopt;
  return std::string(trim(decode_utf8_lossy(run.value().standard_output)));
}

}  // namespace

std::optional<std::string> find_python() {
  for (const std::string& candidate : python_candidates()) {
    std::optional<std::string> executable = trimmed_output(candidate, {"-c", "import sys; print(sys.executable)"});
    if (executable) return executable->empty() ? candidate : *executable;
  }
  return std::nullopt;
}

PythonProbe probe_python() {
  PythonProbe probe;
  probe.python_executable = find_python();
  if (!probe.python_executable) return probe;
  std::optional<std::string> version = trimmed_output(
      *probe.python_executable, {"-c", "import catboost; print(getattr(catboost, '__version__', 'installed'))"});
  if (version) probe.catboost_version = version->empty() ? "installed" : *version;
  return probe;
}

}  // namespace tarnwick
