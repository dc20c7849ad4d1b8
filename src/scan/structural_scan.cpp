// safetensors and GGUF run no code when loaded; a file that breaks the format's layout rules
// (overlapping or out-of-file ranges, bad lengths, a malformed header) is what misleads loaders.
#include "gguf/gguf_reader.h"
#include "safetensors/safetensors_reader.h"
#include "scan/scan_formats.h"

namespace tarnwick::scan {

namespace {

void judge_layout(const Result<TensorTable>& table, FileScan& scan) {
  if (!table.is_ok()) scan.add("unsafe", "breaks the format's layout rules: " + table.message());
}

}  // namespace

void scan_safetensors(const std::string& path, FileScan& scan) {
  scan.format = "safetensors";
  judge_layout(read_safetensors_table(path), scan);
}

void scan_gguf(const std::string& path, FileScan& scan) {
  scan.format = "gguf";
  judge_layout(read_gguf_table(path), scan);
}

}  // namespace tarnwick::scan
