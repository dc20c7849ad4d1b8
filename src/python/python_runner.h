// Starting a Python interpreter as a child process and collecting what it printed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace tarnwick {

struct PythonRun {
  int exit_status = 0;  // 0 only for a normal exit with status 0
  std::string standard_output;
  std::string standard_error;
};

// VESPRINE_PYTHON (when set, even empty), ".venv/bin/python", "python3"; built afresh each call.
std::vector<std::string> python_candidates();

// How much of an interpreter's output is kept, both streams together, and how long the output
// pipes may stay quiet after the interpreter has exited (a background child it left behind can
// hold them open) before the run stops listening.
struct CaptureLimits {
  std::size_t max_bytes = std::size_t{64} << 20;
  int quiet_after_exit_ms = 200;
};

// Starts `program` (a path, or a name looked up on PATH) with empty standard input, waits for it
// and captures both output streams. A program that cannot start is an error carrying the
// operating system's reason; one that prints more than the limit is stopped and is an error.
Result<PythonRun> run_python(const std::string& program, const std::vector<std::string>& args,
                             const CaptureLimits& limits = {});

// Each failed candidate leaves one record "{candidate}: {reason}".
struct CandidateOutcome {
  std::optional<std::string> output;  // standard output of the first candidate that exited 0
  std::vector<std::string> records;
  // The first candidate that started but failed, with its trimmed standard error: the one whose
  // reason matters when earlier candidates merely do not exist.
  std::optional<std::string> first_started_candidate;
  std::string first_started_error;
};
CandidateOutcome try_python_candidates(const std::vector<std::string>& args);

}  // namespace tarnwick
