// What fails a scan: the grade at which an import or finding fails, and the names a user allows
// or denies (`--allow`, `--policy`).
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/file_scan.h"

namespace tarnwick::scan {

struct ScanPolicy {
  Grade fail_on = Grade::kUnknown;
  std::set<std::string> allow;  // "module.name": graded "allowed"
  std::set<std::string> deny;   // graded "dangerous", ahead of an allow of the same name
};

// One `allow MODULE.NAME` or `deny MODULE.NAME` a line; `#` starts a comment, blank lines are
// skipped. A bad line fails naming `source` and the line's number.
Status read_policy_lines(std::string_view text, const std::string& source, ScanPolicy& policy);
// MODULE.NAME: dotted, no empty part, no spaces.
bool is_import_name(std::string_view text);

// Regrades the imports by the allowed and denied names and puts one finding for each import
// that is not allowed ahead of the hook's own findings.
void apply_policy(const ScanPolicy& policy, FileScan& scan);
// A grade at or above the fail level fails; "unscannable" always does; "info" never.
bool severity_fails(const ScanPolicy& policy, std::string_view severity);
// "unsafe" when a finding fails by its grade, else "unscannable" when something could not be
// checked, else "safe".
std::string file_verdict(const ScanPolicy& policy, const FileScan& scan);

}  // namespace tarnwick::scan
