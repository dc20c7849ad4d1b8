// GGUF runs no code when loaded; a file that breaks the format's layout rules
// (overlapping or out-of-file ranges, bad lengths, a malformed header) is what misleads loaders.
#include "gguf/gguf_scan.h"

#include "gguf/gguf_reader.h"

namespace tarnwick::scan {

void scan_gguf(const std::string& path, FileScan& scan) {
  scan.format = "gguf";
  Result<TensorTable> table = read_gguf_table(path);
  if (!table.is_ok()) scan.add("unsafe", "breaks the format's layout rules: " + table.message());
}

}  // namespace tarnwick::scan
