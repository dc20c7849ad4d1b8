// `scan` of one file: the scan hook of its format, as the one detector decides it.
#pragma once

#include <string>

#include "descriptor/file_scan.h"

namespace tarnwick::scan {

FileScan scan_file(const std::string& path);

}  // namespace tarnwick::scan
