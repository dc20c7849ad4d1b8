#include "scan/file_scan.h"

#include "registry/registry.h"

namespace tarnwick::scan {

namespace {

// A file is judged by every loader that would read it: after its own kind's scan, the scans of
// loaders that take any file (torch.load, pickle.load) add what they would run from its bytes.
const FormatDescriptor* any_file_scanner() {
  for (const FormatDescriptor* other : registered_formats()) {
    if (other->scans_any_file && other->scan != nullptr) return other;
  }
  return nullptr;
}

bool scannable(const FormatDescriptor* format) {
  return format != nullptr && (format->scan != nullptr || (format->scanned_by_any_file_loaders && any_file_scanner()));
}

void scan_as_every_loader(const FormatDescriptor& format, ScanInput input, FileScan& scan) {
  const FormatDescriptor* any_file = any_file_scanner();
  if (format.scan == nullptr) return any_file->scan(input, scan);
  format.scan(input, scan);
  if (format.scans_any_file || any_file == nullptr) return;
  input.also = true;
  any_file->scan(input, scan);
}

}  // namespace

FileScan scan_file(const std::string& path) {
  FileScan scan;
  scan.path = path;
  scan.format = "unknown";
  const FormatDescriptor* format = detect_format(path);
  if (!scannable(format)) {
    scan.add("unscannable", "not a format the scan knows (PyTorch, pickle, ONNX, safetensors, GGUF)");
  } else {
    scan_as_every_loader(*format, ScanInput{path, std::nullopt}, scan);
  }
  return scan;
}

FileScan scan_bytes(const std::string& shown_as, std::string_view bytes) {
  FileScan scan;
  scan.path = shown_as;
  scan.format = "unknown";
  const FormatDescriptor* format = detect_format_of_bytes(bytes);
  if (!scannable(format)) {
    scan.add("unscannable",
             "not a format the scan knows by its content (PyTorch, pickle from protocol 2 on, safetensors, GGUF); "
             "ONNX files and older pickles are known by their names, so scan them as files");
  } else {
    scan_as_every_loader(*format, ScanInput{shown_as, bytes}, scan);
  }
  return scan;
}

}  // namespace tarnwick::scan
