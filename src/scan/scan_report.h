// The scan's reports: one text report or one JSON document over every scanned file, with the
// policy applied.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "base/json_output.h"
#include "scan/file_scan.h"
#include "scan/scan_policy.h"

namespace tarnwick::scan {

// Every file of one run, each with its verdict under the policy.
struct ScanRun {
  ScanPolicy policy;
  std::vector<FileScan> files;
  std::vector<std::string> verdicts;  // one per file: "safe", "unsafe" or "unscannable"
};

// Counts over a run: files by verdict, import rows by grade.
struct ScanSummary {
  std::uint64_t files = 0, safe = 0, unsafe = 0, unscannable = 0;
  std::uint64_t pickles = 0, imports = 0;
  std::uint64_t by_grade[4] = {0, 0, 0, 0};  // indexed by Grade
};

ScanSummary summarise(const ScanRun& run);
void print_scan_report(std::ostream& out, const ScanRun& run);
OrderedJson scan_json(const ScanRun& run);
// Control characters as \n, \t, \xNN so a name from a file cannot rewrite the terminal.
std::string escape_control(std::string_view text);

}  // namespace tarnwick::scan
