// inspect, explain and diff of tensor checkpoints (safetensors and GGUF).
#pragma once

#include <ostream>
#include <string>

#include "base/change_wording.h"
#include "base/check_rules.h"
#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

struct TensorFileFormat;
struct TensorFileSummary;

// inspect [--json] [--limit N] <checkpoint>...
Status tensor_file_inspect(const Args& args, const TensorFileFormat& format, Io& io);
Status tensor_file_explain(const std::string& path, const TensorFileFormat& format, Io& io);
Status tensor_file_diff(const std::string& old_path, const std::string& new_path, const TensorFileFormat& format,
                        bool json, Io& io);

// The explain-diff sections between "Architecture:" and the verdict.
void explain_tensor_file_change(std::ostream& out, const TensorFileSummary& old_model,
                                const TensorFileSummary& new_model);

// The check rules of two checkpoints of `format`: size, parameters, tensor names, metadata.
Result<CheckOutcome> check_tensor_files(const CheckOptions& options, const std::string& old_path,
                                        const std::string& new_path, const TensorFileFormat& format);
Result<ChangeExplanation> explain_tensor_file_pair(const std::string& old_path, const std::string& new_path,
                                                  const TensorFileFormat& format);

}  // namespace tarnwick
