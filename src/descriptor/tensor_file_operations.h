// The operations of a tensor checkpoint format (safetensors, GGUF), each bound to its part of the
// shared checkpoint reports.
#pragma once

#include "descriptor/format_descriptor.h"
#include "tables/tensor_file_commands.h"
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
};

}  // namespace tarnwick
