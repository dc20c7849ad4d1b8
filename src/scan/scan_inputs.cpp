#include "scan/scan_inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/file_read.h"

namespace tarnwick::scan {

namespace {

namespace fs = std::filesystem;

Error cannot_read(const std::string& path, const std::string& reason) {
  return fail_with_status("read " + path + ": " + reason, kCannotCheck);
}

// Opening is the test: permissions, a dangling link and a vanished file all show here.
Status check_readable(const std::string& path) {
  if (Status refused = refuse_special_file(path); !refused.is_ok()) {
    return fail_with_status(refused.message(), kCannotCheck);
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return cannot_read(path, os_error_text(errno));
  ::close(fd);
  return Status::ok();
}

Status walk(const std::string& directory, std::vector<ScanTarget>& targets) {
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator it(directory, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code kind_error;
    if (it->is_regular_file(kind_error)) files.push_back(it->path().string());
  }
  if (error) return cannot_read(directory, error.message());
  std::sort(files.begin(), files.end());
  for (std::string& file : files) {
    if (Status readable = check_readable(file); !readable.is_ok()) return readable;
    targets.push_back({std::move(file), std::nullopt});
  }
  return Status::ok();
}

}  // namespace

Result<std::string> read_bounded(std::istream& in, std::uint64_t limit) {
  std::string contents;
  char block[1 << 16];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    contents.append(block, static_cast<std::size_t>(in.gcount()));
    if (contents.size() > limit) {
      return fail_with_status("read -: more than " + std::to_string(limit >> 20) + " MiB from standard input",
                              kCannotCheck);
    }
  }
  if (in.bad()) return cannot_read("-", "the stream failed");
  return contents;
}

Result<std::vector<ScanTarget>> collect_targets(const std::vector<std::string>& operands, bool recursive,
                                                std::istream& in, std::uint64_t stream_limit) {
  std::vector<ScanTarget> targets;
  bool read_standard_input = false;
  for (const std::string& operand : operands) {
    if (operand == "-") {
      if (read_standard_input) return fail_with_status("standard input (-) can be scanned once", kCannotCheck);
      read_standard_input = true;
      Result<std::string> contents = read_bounded(in, stream_limit);
      if (!contents.is_ok()) return contents.error();
      targets.push_back({operand, contents.take()});
      continue;
    }
    std::error_code error;
    if (fs::is_directory(operand, error)) {
      if (!recursive) return fail_with_status(operand + " is a directory (scan the files in it with -r)", kCannotCheck);
      if (Status walked = walk(operand, targets); !walked.is_ok()) return walked.error();
      continue;
    }
    if (Status readable = check_readable(operand); !readable.is_ok()) return readable.error();
    targets.push_back({operand, std::nullopt});
  }
  return targets;
}

}  // namespace tarnwick::scan
