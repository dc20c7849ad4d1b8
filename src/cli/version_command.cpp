#include "cli/version_command.h"

#include <ostream>

namespace tarnwick {

Status version_command(const Args& args, Io& io) {
  if (!args.empty()) return fail("usage: tarnwick version");
  io.out << "tarnwick " << program_version() << "\n";
  return Status::ok();
}

}  // namespace tarnwick
