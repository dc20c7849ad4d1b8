#include "scan/file_scan.h"

#include "registry/registry.h"

namespace tarnwick::scan {

namespace {

// A file is judged by every loader that would read it: after its own kind's scan, the scans of
// loaders that take any file (torch.load, pickle.load) add what they would run from its bytes.
void scan_as_every_loader(const FormatDescriptor& format, ScanInput input, FileScan& scan) {
  format.scan(input, scan);
  if (format.scans_any_file) return;
  input.also = true;
  for (const FormatDescriptor* other : registered_formats()) {
    if (other->scans_any_file && other->scan != nullptr) {
      other->scan(input, scan);
      return;
    }
  }
}

}  // namespace

FileScan scan_file(const std::string& path) {
  FileScan scan;
  scan.path = path;
  scan.format = "unknown";
  const FormatDescriptor* format = detect_format(path);
  if (format == nullptr || format->scan == nullptr) {
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
  if (format == nullptr || format->scan == nullptr) {
    scan.add("unscannable",
             "not a format the scan knows by its content (PyTorch, pickle from protocol 2 on, safetensors, GGUF); "
             "ONNX files and older pickles are known by their names, so scan them as files");
  } else {
    scan_as_every_loader(*format, ScanInput{shown_as, bytes}, scan);
  }
  return scan;
}

}  // namespace tarnwick::scan
