// Small files for the scan tests: pickles that import chosen names, checkpoints around them,
// and the scan of one file under a policy as the command does it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pickle/pickle_builder.h"
#include "pt/zip_builder.h"
#include "scan/file_scan.h"
#include "scan/scan_policy.h"

namespace tarnwick::testing {

// posix.system("echo pwned") the way pickle writes os.system on Linux (protocol 2).
inline void system_call(PickleBuilder& p, const std::string& module = "posix") {
  p.global(module, "system").short_unicode("echo pwned").op(0x85).op('R');
}

inline std::string clean_state_dict() {
  PickleBuilder p;
  p.proto(2);
  begin_state_dict(p);
  p.short_unicode("w");
  tensor(p, StorageId{"FloatStorage", "0", 2}, 0, {2}, {1});
  end_state_dict(p);
  return p.stop().str();
}

inline std::string checkpoint_zip(const std::vector<ZipEntry>& pickles) {
  std::vector<ZipEntry> entries = pickles;
  entries.push_back({"a/data/0", "12345678"});
  entries.push_back({"a/version", "3\n"});
  return build_zip(entries);
}

// A protocol 2 pickle that calls each (module, name) with no arguments, in a list.
inline std::string pickle_calling(const std::vector<std::pair<std::string, std::string>>& names) {
  PickleBuilder p;
  p.proto(2).op(']').mark();
  for (const auto& [module, name] : names) p.global(module, name).op(')').op('R');
  return p.op('e').stop().str();
}

// The file's scan with the policy applied, as `scan` reports it.
struct PolicyScan {
  scan::FileScan scan;
  std::string verdict;
};

inline PolicyScan scan_under(const std::string& path, const scan::ScanPolicy& policy = {}) {
  PolicyScan result{scan::scan_file(path), ""};
  scan::apply_policy(policy, result.scan);
  result.verdict = scan::file_verdict(policy, result.scan);
  return result;
}

inline std::string imports_of(const scan::FileScan& scan) {
  std::string out;
  for (const scan::ScanImport& i : scan.imports) {
    out += (out.empty() ? "" : ", ") + i.module + "." + i.name + " " + std::string(scan::grade_text(i.grade)) + " x" +
           std::to_string(i.count);
  }
  return out;
}

inline std::string findings_of(const scan::FileScan& scan) {
  std::string out;
  for (const scan::ScanFinding& f : scan.findings) out += f.severity + ": " + f.message + "\n";
  return out;
}

}  // namespace tarnwick::testing
