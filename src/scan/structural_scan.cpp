// Formats that run no code when loaded, checked for the layout faults that make loaders misbehave.
#include "scan/scan_formats.h"

namespace tarnwick::scan {

void scan_safetensors(const std::string& path, FileScan& scan) {
  (void)path;
  scan.format = "safetensors";
  scan.add("unscannable", "the safetensors layout rules are not checked yet");
}

void scan_gguf(const std::string& path, FileScan& scan) {
  (void)path;
  scan.format = "gguf";
  scan.add("unscannable", "the GGUF layout rules are not checked yet");
}

}  // namespace tarnwick::scan
