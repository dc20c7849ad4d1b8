// One file's safety verdict, filled by the scan hook of the file's format: the imports loading it would perform and what could not be checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::scan {

struct ScanImport {
  std::string module;
  std::string name;
  std::string verdict;  // "allowed", "dangerous", "not allowed"
  std::uint64_t count = 0;
};

struct ScanFinding {
  std::string severity;  // "unsafe", "unscannable" or "info"
  std::string message;
};

struct FileScan {
  std::string path;
  std::string format;  // "pytorch-zip", "pytorch-legacy", "pickle", "onnx", "safetensors", "gguf", "unknown"
  std::vector<ScanImport> imports;  // first-use order, one row per name
  std::vector<ScanFinding> findings;
  std::uint64_t pickles_scanned = 0;
  std::uint64_t steps = 0;  // opcodes followed over all pickles

  // "unsafe" when anything is unsafe, else "unscannable" when anything could not be checked,
  // else "safe".
  std::string verdict() const;
  void add(std::string severity, std::string message) { findings.push_back({std::move(severity), std::move(message)}); }
};


}  // namespace tarnwick::scan
