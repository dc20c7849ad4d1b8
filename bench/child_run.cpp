#include "child_run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace bench {

ChildRun run_child(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  ChildRun run;
  char error_path[] = "/tmp/tarnwick-bench-stderr-XXXXXX";
  int error_fd = ::mkstemp(error_path);
  auto start = std::chrono::steady_clock::now();
  pid_t child = ::fork();
  if (child == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(null_fd, STDOUT_FILENO);
    ::dup2(error_fd, STDERR_FILENO);
    for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peak_bytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
  char buffer[512] = {};
  ssize_t got = ::pread(error_fd, buffer, sizeof buffer - 1, 0);
  if (got > 0) {
    std::string text(buffer, static_cast<std::size_t>(got));
    run.first_error_line = text.substr(0, text.find('\n'));
  }
  ::close(error_fd);
  ::unlink(error_path);
  return run;
}

std::string tarnwick_binary() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tarnwick").string();
}

}  // namespace bench
