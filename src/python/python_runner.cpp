#include "python/python_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/file_read.h"
#include "base/text.h"

extern char** environ;

namespace tarnwick {

std::vector<std::string> python_candidates() {
  std::vector<std::string> candidates;
  if (const char* configured = std::getenv("VESPRINE_PYTHON")) {
    if (is_valid_utf8(configured)) candidates.emplace_back(configured);
  }
  candidates.emplace_back(".venv/bin/python");
  candidates.emplace_back("python3");
  return candidates;
}

namespace {

struct Pipe {
  int read_end = -1;
  int write_end = -1;
  ~Pipe() { close_both(); }
  void close_read() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }
  void close_both() {
    close_read();
    close_write();
  }
};

bool open_pipe(Pipe& pipe) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  pipe.read_end = ends[0];
  pipe.write_end = ends[1];
  return true;
}

int exit_code(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  return 128 + (WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0);
}

enum class DrainEnd { kClosed, kQuietAfterExit, kOverLimit, kFailed };

// Reads both pipes until both close, so neither child stream can fill up and block the child.
// Once the child has exited (it is reaped here, into `wait_status`), the pipes may still be
// held open by something it started: reading stops when they then stay quiet for the grace
// period. Reading also stops when the output passes the capture limit.
DrainEnd drain(pid_t child, Pipe& out, Pipe& err, PythonRun& run, const CaptureLimits& limits,
               std::optional<int>& wait_status) {
  char buffer[1 << 16];
  constexpr int kPollMs = 50;
  int quiet_ms = 0;
  while (out.read_end >= 0 || err.read_end >= 0) {
    if (!wait_status) {
      int status = 0;
      pid_t reaped = ::waitpid(child, &status, WNOHANG);
      if (reaped == child) wait_status = status;
    }
    pollfd fds[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
    int ready = ::poll(fds, 2, kPollMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return DrainEnd::kFailed;
    }
    if (ready == 0) {
      quiet_ms = wait_status ? quiet_ms + kPollMs : 0;
      if (wait_status && quiet_ms >= limits.quiet_after_exit_ms) return DrainEnd::kQuietAfterExit;
      continue;
    }
    quiet_ms = 0;
    Pipe* pipes[2] = {&out, &err};
    std::string* texts[2] = {&run.standard_output, &run.standard_error};
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
      if (got > 0) {
        // Checked before appending, so the buffers never grow past the limit.
        std::size_t kept = run.standard_output.size() + run.standard_error.size();
        if (kept + static_cast<std::size_t>(got) > limits.max_bytes) return DrainEnd::kOverLimit;
        // The whole allowance is reserved at a stream's first bytes: pages never written cost
        // nothing, and the text is never moved to grow, which would hold both copies at once
        // and so up to twice the limit.
        if (texts[k]->capacity() < limits.max_bytes) texts[k]->reserve(limits.max_bytes);
        texts[k]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        pipes[k]->close_read();
      }
    }
  }
  return DrainEnd::kClosed;
}

}  // namespace

Result<PythonRun> run_python(const std::string& program, const std::vector<std::string>& args,
                             const CaptureLimits& limits) {
  Pipe out, err;
  if (!open_pipe(out) || !open_pipe(err)) return fail(os_error_text(errno));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write_end, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write_end, STDERR_FILENO);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t child = 0;
  int spawn_error = ::posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  out.close_write();
  err.close_write();
  if (spawn_error != 0) return fail(os_error_text(spawn_error));

  PythonRun run;
  std::optional<int> wait_status;
  DrainEnd end = drain(child, out, err, run, limits, wait_status);
  out.close_read();
  err.close_read();
  if (end == DrainEnd::kOverLimit && !wait_status) ::kill(child, SIGKILL);
  while (!wait_status) {
    int status = 0;
    if (::waitpid(child, &status, 0) >= 0) {
      wait_status = status;
    } else if (errno != EINTR) {
      return fail(os_error_text(errno));
    }
  }
  if (end == DrainEnd::kOverLimit) {
    return fail("printed more than " + std::to_string(limits.max_bytes) + " bytes of output; stopped it there");
  }
  run.exit_status = exit_code(*wait_status);
  return run;
}

CandidateOutcome try_python_candidates(const std::vector<std::string>& args) {
  CandidateOutcome outcome;
  for (const std::string& candidate : python_candidates()) {
    Result<PythonRun> run = run_python(candidate, args);
    if (!run.is_ok()) {
      outcome.records.push_back(candidate + ": " + run.message());
      continue;
    }
    if (run.value().exit_status != 0) {
      std::string reason(trim(decode_utf8_lossy(run.value().standard_error)));
      outcome.records.push_back(candidate + ": " + reason);
      if (!outcome.first_started_candidate) {
        outcome.first_started_candidate = candidate;
        outcome.first_started_error = reason;
      }
      continue;
    }
    outcome.output = decode_utf8_lossy(run.value().standard_output);
    return outcome;
  }
  return outcome;
}

}  // namespace tarnwick
