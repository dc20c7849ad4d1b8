#include "scan/file_scan.h"

#include <cctype>
#include <memory>

#include "base/text.h"
#include "base/positioned_file.h"
#include "scan/scan_formats.h"

namespace tarnwick::scan {

namespace {

// An 8-byte header length that fits in the file, then the header's opening brace.
bool looks_like_safetensors(std::string_view head, std::uint64_t file_size) {
  if (head.size() < 9 || head[8] != '{') return false;
  std::uint64_t length = 0;
  for (int i = 7; i >= 0; --i) length = (length << 8) | static_cast<std::uint8_t>(head[i]);
  return length <= file_size - 8;
}

bool is_pickle_extension(const std::string& extension) {
  for (const char* known : {"pkl", "pickle", "pt", "pth", "bin", "ckpt", "tar"}) {
    if (extension == known) return true;
  }
  return false;
}

}  // namespace

std::string FileScan::verdict() const {
  bool unscannable = false;
  for (const ScanFinding& finding : findings) {
    if (finding.severity == "unsafe") return "unsafe";
    unscannable = unscannable || finding.severity == "unscannable";
  }
  return unscannable ? "unscannable" : "safe";
}

FileScan scan_file(const std::string& path) {
  FileScan scan;
  scan.path = path;
  scan.format = "unknown";
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(path);
  if (!opened.is_ok()) {
    scan.add("unscannable", opened.message());
    return scan;
  }
  const PositionedFile& file = *opened.value();
  Result<std::string> head = file.read_prefix(9);
  if (!head.is_ok()) {
    scan.add("unscannable", "read: " + head.message());
    return scan;
  }
  std::string extension = path_extension(path);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (head.value().starts_with("PK\x03\x04") || head.value().starts_with("PK\x05\x06")) {
    scan_zip(file, scan);
  } else if (head.value().starts_with("GGUF") || extension == "gguf") {
    scan_gguf(path, scan);
  } else if (extension == "safetensors" || path.ends_with(".safetensors.index.json") ||
             looks_like_safetensors(head.value(), file.size())) {
    scan_safetensors(path, scan);
  } else if (extension == "onnx") {
    scan_onnx(path, scan);
  } else if ((!head.value().empty() && head.value()[0] == '\x80') || is_pickle_extension(extension)) {
    Result<std::string> bytes = file.read_at(0, file.size());
    if (!bytes.is_ok()) {
      scan.format = "pickle";
      scan.add("unscannable", "read: " + bytes.message());
    } else {
      scan_pickle_file_bytes(bytes.value(), scan);
    }
  } else {
    scan.add("unscannable", "not a format the scan knows (PyTorch, pickle, ONNX, safetensors, GGUF)");
  }
  return scan;
}

}  // namespace tarnwick::scan
