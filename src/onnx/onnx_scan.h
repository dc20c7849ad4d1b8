// `scan` of ONNX files.
#pragma once

#include <string>

#include "base/file_scan.h"

namespace tarnwick::scan {

void scan_onnx(const ScanInput& input, FileScan& scan);

}  // namespace tarnwick::scan
