#include <cerrno>
#include <istream>
#include <ostream>

#include "demo/teaching.h"
#include "base/file_read.h"

namespace tarnwick {

Result<std::string> prompt_line(Io& io, const std::string& prompt) {
  io.out << prompt;
  io.out.flush();
  if (!io.out) return fail("write standard output: " + os_error_text(errno ? errno : EIO));
  std::string line;
  if (!std::getline(io.in, line)) {
    if (io.in.bad()) return fail("read standard input: " + os_error_text(errno ? errno : EIO));
    return std::string();  // end of input reads as an empty reply
  }
  return line;
}

Status wait_for_enter(Io& io) {
  Result<std::string> line = prompt_line(io, "next> ");
  if (!line.is_ok()) return line.error();
  return Status::ok();
}

}  // namespace tarnwick
