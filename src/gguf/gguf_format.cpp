#include "gguf/gguf_format.h"

#include "gguf/gguf_scan.h"
#include "gguf/gguf_highlights.h"
#include "gguf/gguf_reader.h"
#include "gguf/gguf_architecture.h"
#include "tables/tensor_file_commands.h"
#include "tables/tensor_file_summary.h"

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

Status inspect(const Args& args, Io& io) { return tensor_file_inspect(args, kGgufCheckpoint, io); }
Status explain(const std::string& path, Io& io) { return tensor_file_explain(path, kGgufCheckpoint, io); }
Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
  return tensor_file_diff(old_path, new_path, kGgufCheckpoint, request.json, io);
}
Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  return check_tensor_files(options, old_path, new_path, kGgufCheckpoint);
}
Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
  return explain_tensor_file_pair(old_path, new_path, kGgufCheckpoint);
}

}  // namespace

const FormatDescriptor kGgufFormat{
    .name = "GGUF",
    .extensions = {"gguf"},
    .claims_content = has_magic,
    .inspect = inspect,
    .explain = explain,
    .diff = diff,
    .check = check,
    .explain_change = explain_change,
    .tensor_table = read_gguf_table,
    .stated_architecture = gguf_stated_architecture,
    .scan = scan::scan_gguf,
};

}  // namespace tarnwick
