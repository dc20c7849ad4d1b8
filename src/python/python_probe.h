// Which Python interpreter is usable here, and whether it has the catboost package.
#pragma once

#include <optional>
#include <string>

namespace tarnwick {

struct PythonProbe {
  std::optional<std::string> python_executable;
  std::optional<std::string> catboost_version;
};

// The first candidate that runs "import sys; print(sys.executable)" with status 0.
std::optional<std::string> find_python();
// find_python, then "import catboost" with the resolved interpreter.
PythonProbe probe_python();

}  // namespace tarnwick
