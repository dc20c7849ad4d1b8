// One file's scan record, filled by the scan hook of the file's format: the imports loading it
// would perform, each with its grade, and what else was found or could not be checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::scan {

// What loading a name can do, from least to most. "allowed": torch's weights-only set;
// "framework": classes a whole-model save names, whose loading runs their constructors and
// __setstate__; "unknown": anything else; "dangerous": code execution, processes, files, the
// network or the import machinery.
enum class Grade : std::uint8_t { kAllowed, kFramework, kUnknown, kDangerous };

std::string_view grade_text(Grade grade);  // "allowed", "framework", "unknown", "dangerous"
std::optional<Grade> parse_grade(std::string_view text);

struct ScanImport {
  std::string module;
  std::string name;
  Grade grade = Grade::kUnknown;
  std::uint64_t count = 0;
  std::string where;   // the pickle of the first use ("the pickle", "a/data.pkl", "pickle 4 of 5")
  std::string opcode;  // through which opcode it was first imported
};

// Severities: a grade ("dangerous", "unknown", "framework") for what loading would do,
// "unscannable" for what could not be checked, "info" for what is only worth knowing.
struct ScanFinding {
  std::string severity;
  std::string message;
};

struct FileScan {
  std::string path;
  std::string format;  // "pytorch-zip", "pytorch-legacy", "pickle", "onnx", "safetensors", "gguf", "unknown"
  std::vector<ScanImport> imports;  // first-use order, one row per name
  std::vector<ScanFinding> findings;  // the hook's own; the scan adds one per import it does not allow
  std::uint64_t pickles_scanned = 0;
  std::uint64_t steps = 0;  // opcodes followed over all pickles

  void add(std::string severity, std::string message) { findings.push_back({std::move(severity), std::move(message)}); }
};

// What a scan hook reads: the file at `path`, or, when `bytes` is set, those bytes (standard
// input, already read whole); `path` then only names them in messages.
struct ScanInput {
  std::string path;
  std::optional<std::string_view> bytes;
  // The file's own kind was scanned already: record only what this scan's loaders would also run.
  bool also = false;
};

}  // namespace tarnwick::scan
