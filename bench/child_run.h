// Runs a program as a child process and measures its wall time and peak resident memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct ChildRun {
  int exit_status = -1;
  double seconds = 0.0;
  std::uint64_t peak_bytes = 0;  // the child's maximum resident set size
  std::string first_error_line;  // first line of its standard error
};

// Standard output is discarded; `env` entries ("NAME=value") are added to the environment.
ChildRun run_child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

// The tarnwick binary next to the running benchmark.
std::string tarnwick_binary();

}  // namespace bench
