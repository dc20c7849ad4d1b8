#include "scan/file_scan.h"

#include "registry/registry.h"

namespace tarnwick::scan {

FileScan scan_file(const std::string& path) {
  FileScan scan;
  scan.path = path;
  scan.format = "unknown";
  const FormatDescriptor* format = detect_format(path);
  if (format == nullptr || format->scan == nullptr) {
    scan.add("unscannable", "not a format the scan knows (PyTorch, pickle, ONNX, safetensors, GGUF)");
  } else {
    format->scan(path, scan);
  }
  return scan;
}

}  // namespace tarnwick::scan
