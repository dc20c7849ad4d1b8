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
};

namespace {

bool has_magic(const ContentProbe& probe) { return probe.head.starts_with("GGUF"); }

using Operations = TensorFileOperations<kGgufCheckpoint>;

}  // namespace

const FormatDescriptor kGgufFormat{
    .name = "GGUF",
    .extensions = {"gguf"},
    .claims_content = has_magic,
    .inspect = Operations::inspect,
    .explain = Operations::explain,
    .diff = Operations::diff,
    .points_to_contents_diff = true,
    .check = Operations::check,
    .explain_change = Operations::explain_change,
    .tensor_table = read_gguf_table,
    .stated_architecture = gguf_stated_architecture,
    .scan = scan::scan_gguf,
};

}  // namespace tarnwick
