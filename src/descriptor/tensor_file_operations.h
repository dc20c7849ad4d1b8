// The operations of a tensor checkpoint format (safetensors, GGUF, NumPy, TFLite), each bound to
// its part of the shared checkpoint reports, and the descriptor that routes every command there.
#pragma once

#include "descriptor/format_descriptor.h"
#include "tables/tensor_file_commands.h"
#include "tables/serving_memory_report.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

template <const TensorFileFormat& kFormat>
struct TensorFileOperations {
  static Status inspect(const Args& args, Io& io) { return tensor_file_inspect(args, kFormat, io); }
  static Status explain(const std::string& path, Io& io) { return tensor_file_explain(path, kFormat, io); }
  static Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
    return tensor_file_diff(old_path, new_path, kFormat, request.json, io);
  }
  static Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path,
                                    const std::string& new_path) {
    return check_tensor_files(options, old_path, new_path, kFormat);
  }
  static Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
    return explain_tensor_file_pair(old_path, new_path, kFormat);
  }
  static Status profile(const Args& args, Io& io) { return serving_memory_command(args, kFormat, io); }
};

// A tensor checkpoint format's descriptor: its name and how it is recognised; every command goes
// through the shared reports. The format adds its scan hook, if any, to what this returns.
template <const TensorFileFormat& kFormat>
FormatDescriptor tensor_file_descriptor(std::vector<std::string_view> extensions,
                                        bool (*claims_content)(const ContentProbe& probe)) {
  using Operations = TensorFileOperations<kFormat>;
  return FormatDescriptor{
      .name = kFormat.name,
      .extensions = std::move(extensions),
      .claims_content = claims_content,
      .inspect = Operations::inspect,
      .explain = Operations::explain,
      .diff = Operations::diff,
      .points_to_contents_diff = true,
      .check = Operations::check,
      .explain_change = Operations::explain_change,
      .tensor_table = kFormat.read_table,
      .stated_architecture = kFormat.stated_architecture,
      .profile = kFormat.head_dims ? Operations::profile : nullptr,
      .weighs_serving_memory = kFormat.head_dims != nullptr,
  };
}

}  // namespace tarnwick
