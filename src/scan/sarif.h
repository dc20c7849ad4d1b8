// The scan as SARIF 2.1.0 for code-scanning tools: one rule per severity, one result per
// finding, located at the file it was found in.
#pragma once

#include <string>

#include "base/json_output.h"
#include "base/status.h"
#include "scan/scan_report.h"

namespace tarnwick::scan {

OrderedJson scan_sarif(const ScanRun& run);
// A path as a URI reference: percent-encoded, and a file URI when absolute.
std::string path_uri(std::string_view path);
// Writes the document to `path` (created or replaced); "write {path}: {os error}" otherwise.
Status write_sarif_file(const std::string& path, const OrderedJson& document);

}  // namespace tarnwick::scan
