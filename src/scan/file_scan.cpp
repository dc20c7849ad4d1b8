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
    format->scan(ScanInput{path, std::nullopt}, scan);
  }
  return scan;
}

FileScan scan_bytes(const std::string& shown_as, std::string_view bytes) {
  FileScan scan;
  scan.path = shown_as;
  scan.format = "unknown";
  const FormatDescriptor* format = detect_format_of_bytes(bytes);
  if (format == nullptr || format->scan == nullptr) {
    scan.add("unscannable",
             "not a format the scan knows by its content (PyTorch, pickle from protocol 2 on, safetensors, GGUF); "
             "ONNX files and older pickles are known by their names, so scan them as files");
  } else {
    format->scan(ScanInput{shown_as, bytes}, scan);
  }
  return scan;
}

}  // namespace tarnwick::scan
