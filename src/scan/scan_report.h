// The scan's reports: one text report or one JSON document over every scanned file.
#pragma once

#include <ostream>
#include <vector>

#include "base/json_output.h"
#include "scan/file_scan.h"

namespace tarnwick::scan {

void print_scan_report(std::ostream& out, const std::vector<FileScan>& files);
OrderedJson scan_json(const std::vector<FileScan>& files);
// Control characters as \n, \t, \xNN so a name from a file cannot rewrite the terminal.
std::string escape_control(std::string_view text);

}  // namespace tarnwick::scan
