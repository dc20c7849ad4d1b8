// `scan` of safetensors files.
#pragma once

#include <string>

#include "base/file_scan.h"

namespace tarnwick::scan {

void scan_safetensors(const ScanInput& input, FileScan& scan);

}  // namespace tarnwick::scan
