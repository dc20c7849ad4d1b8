#include "cli/dispatch.h"

#include <cerrno>
#include <exception>
#include <ostream>
#include <string_view>

#include "cli/command_help.h"
#include "cli/command_table.h"
#include "base/file_read.h"
#include "cli/usage_text.h"

namespace tarnwick {

Status dispatch_command(const Args& args, Io& io) {
  if (args.empty()) {
    io.out << general_help();
    return Status::ok();
  }
  const std::string& word = args.front();
  if (word == "help" || word == "-h" || word == "--help") {
    // `help <command>` is that command's page; any other further words are ignored.
    const CommandEntry* asked = word == "help" && args.size() > 1 ? find_command(args[1]) : nullptr;
    io.out << (asked ? command_help(*asked) : general_help());
    return Status::ok();
  }
  if (word == "tour") {
    io.out << kTourText;
    return Status::ok();
  }
  const CommandEntry* entry = find_command(word);
  if (entry == nullptr) return fail("unknown command `" + word + "`. Try `tarnwick help`.");
  Args handler_args(args.begin() + 1, args.end());
  if (asks_for_help(*entry, handler_args)) {
    io.out << command_help(*entry);
    return Status::ok();
  }
  return entry->handler(with_values_split(*entry, handler_args), io);
}

int run_tarnwick(const Args& args, std::istream& in, std::ostream& out, std::ostream& err) {
  Io io{in, out};
  Status status;
  try {
    status = dispatch_command(args, io);
  } catch (const std::exception& error) {
    // Handlers return errors as values; this only keeps an unforeseen failure (such as memory
    // running out) to the usual one error line instead of an abort.
    status = fail(std::string("internal error: ") + error.what());
  }
  out.flush();
  // A report that could not be written is a failure, not a success with nothing shown.
  if (status.is_ok() && !out) status = fail("write standard output: " + os_error_text(errno ? errno : EIO));
  if (status.is_ok()) return 0;
  err << "error: " << status.message() << "\n";
  return status.exit_status();
}

}  // namespace tarnwick
