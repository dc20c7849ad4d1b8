// The per-format halves of the scan, chosen by `scan_file`.
#pragma once

#include "base/positioned_file.h"
#include "scan/file_scan.h"

namespace tarnwick::scan {

void scan_zip(const PositionedFile& file, FileScan& scan);
void scan_onnx(const std::string& path, FileScan& scan);
void scan_safetensors(const std::string& path, FileScan& scan);
void scan_gguf(const std::string& path, FileScan& scan);

}  // namespace tarnwick::scan
