#include "scan/scan_command.h"

#include <ostream>

#include "base/json_output.h"
#include "scan/scan_report.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage = "usage: tarnwick scan [--json] <file> [more...]";

}  // namespace

Status scan_command(const Args& args, Io& io) {
  bool json = false;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg.starts_with("--") && arg.size() > 2) {
      return fail("unknown option " + arg + " (" + kUsage + ")");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return fail(kUsage);
  std::vector<scan::FileScan> files;
  for (const std::string& path : paths) files.push_back(scan::scan_file(path));
  if (json) {
    Status printed = print_json_document(io.out, scan::scan_json(files));
    if (!printed.is_ok()) return printed;
  } else {
    scan::print_scan_report(io.out, files);
  }
  std::uint64_t failing = 0;
  for (const scan::FileScan& file : files) failing += file.verdict() != "safe";
  if (failing > 0) return fail("scan found unsafe content in " + std::to_string(failing) + " file(s)");
  return Status::ok();
}

}  // namespace tarnwick
