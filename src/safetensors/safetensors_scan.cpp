// safetensors and GGUF run no code when loaded; a file that breaks the format's layout rules
// (overlapping or out-of-file ranges, bad lengths, a malformed header) is what misleads loaders.
#include "safetensors/safetensors_scan.h"

#include "safetensors/safetensors_reader.h"

namespace tarnwick::scan {

void scan_safetensors(const ScanInput& input, FileScan& scan) {
  scan.format = "safetensors";
  Result<TensorTable> table =
      input.bytes ? read_safetensors_bytes(*input.bytes, input.path) : read_safetensors_table(input.path);
  if (!table.is_ok()) scan.add("dangerous", "breaks the format's layout rules: " + table.message());
}

}  // namespace tarnwick::scan
