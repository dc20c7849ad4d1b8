// `scan` of one file or of standard input's bytes: the scan hook of its format, as the one
// detector decides it. Imports come back graded by the format alone; the policy is applied after.
#pragma once

#include <string>
#include <string_view>

#include "base/file_scan.h"

namespace tarnwick::scan {

FileScan scan_file(const std::string& path);
// Bytes without a name: only the formats known by their content are recognised.
FileScan scan_bytes(const std::string& shown_as, std::string_view bytes);

}  // namespace tarnwick::scan
