#include "safetensors/safetensors_format.h"

#include "descriptor/tensor_file_operations.h"
#include "safetensors/safetensors_highlights.h"
#include "safetensors/safetensors_reader.h"
#include "safetensors/safetensors_scan.h"
#include "safetensors/sibling_config.h"

namespace tarnwick {

const TensorFileFormat kSafetensorsCheckpoint{
    .name = "safetensors",
    .title = "Safetensors",
    .json_type = "safetensors",
    .read_table = read_safetensors_table,
    .highlights = safetensors_highlights,
    .stated_architecture = safetensors_stated_architecture,
    .sidecar_config = safetensors_sidecar_config,
    .head_dims = safetensors_head_dims,
};

namespace {

// An 8-byte little-endian header length that fits in the file, then the header's `{`; or a
// directory holding a checkpoint. The format is read by position, so only a regular file can
// hold one.
bool is_checkpoint(const ContentProbe& probe) {
  if (probe.directory) return directory_holds_safetensors(std::string(probe.path));
  if (!probe.regular_file || !probe.size || probe.head.size() < 9 || probe.head[8] != '{') return false;
  std::uint64_t header_length = 0;
  for (int i = 7; i >= 0; --i) header_length = (header_length << 8) | static_cast<unsigned char>(probe.head[i]);
  return header_length <= *probe.size - 8;
}

}  // namespace

const FormatDescriptor kSafetensorsFormat = [] {
  FormatDescriptor format =
      tensor_file_descriptor<kSafetensorsCheckpoint>({"safetensors.index.json", "safetensors"}, is_checkpoint);
  format.scan = scan::scan_safetensors;
  return format;
}();

}  // namespace tarnwick
