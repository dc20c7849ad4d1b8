#include "cli/version_command.h"

#include <ostream>

namespace tarnwick {

// The build passes the project version of CMakeLists.txt to this file alone.
#ifndef TARNWICK_VERSION
#error "TARNWICK_VERSION must be defined by the build"
#endif

std::string_view program_version() { return TARNWICK_VERSION; }

Status version_command(const Args& args, Io& io) {
  if (!args.empty()) return fail("usage: tarnwick version");
  io.out << "tarnwick " << program_version() << "\n";
  return Status::ok();
}

}  // namespace tarnwick
