#include "gguf/gguf_format.h"

#include "descriptor/tensor_file_operations.h"
#include "gguf/gguf_architecture.h"
#include "gguf/gguf_highlights.h"
#include "gguf/gguf_reader.h"
#include "gguf/gguf_scan.h"

namespace tarnwick {

const TensorFileFormat kGgufCheckpoint{
    .name = "GGUF",
    .title = "GGUF",
    .json_type = "gguf",
    .read_table = read_gguf_table,
    .highlights = gguf_highlights,
    .stated_architecture = gguf_stated_architecture,
    .head_dims = gguf_head_dims,
};

namespace {

bool has_magic(const ContentProbe& probe) { return probe.head.starts_with("GGUF"); }

}  // namespace

const FormatDescriptor kGgufFormat = [] {
  FormatDescriptor format = tensor_file_descriptor<kGgufCheckpoint>({"gguf"}, has_magic);
  format.scan = scan::scan_gguf;
  return format;
}();

}  // namespace tarnwick
