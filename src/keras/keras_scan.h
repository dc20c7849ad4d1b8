// What loading a `.keras` file would run: Lambda layers carry marshalled Python bytecode that
// Keras runs when safe mode is off, and custom objects name modules that are imported.
#pragma once

#include "base/file_scan.h"

namespace tarnwick::scan {

void scan_keras(const ScanInput& input, FileScan& scan);

}  // namespace tarnwick::scan
