// `explain-diff`: what changed between two artifacts of one kind, in plain words.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "main/feature_name_changes.h"
#include "main/io.h"
#include "main/real_equality.h"
#include "main/status.h"

namespace tarnwick {

Status explain_diff_command(const Args& args, Io& io);

struct CbmSummary;
struct LightgbmSummary;
struct OnnxSummary;
struct PyTorchSummary;
struct TensorFileSummary;

// Each kind's sections, between "Architecture:" and "Summary:", then the verdict and note.
void explain_catboost_change(std::ostream& out, const CbmSummary& old_model, const CbmSummary& new_model);
void explain_lightgbm_change(std::ostream& out, const LightgbmSummary& old_model, const LightgbmSummary& new_model);
void explain_onnx_change(std::ostream& out, const OnnxSummary& old_model, const OnnxSummary& new_model);
void explain_pytorch_change(std::ostream& out, const PyTorchSummary& old_model, const PyTorchSummary& new_model);
void explain_tensor_file_change(std::ostream& out, const TensorFileSummary& old_model,
                                const TensorFileSummary& new_model);

// Shared wording of the change explanation.
template <class T>
const char* same_or_changed(const std::optional<T>& a, const std::optional<T>& b) {
  return a == b ? "same" : "changed";
}
inline const char* same_or_changed(const std::optional<double>& a, const std::optional<double>& b) {
  return same_optional_real(a, b) ? "same" : "changed";
}
// "same set", "+{} added, -{} removed", or the kind's phrase when neither list has names.
std::string name_set_change(const std::vector<std::string>& old_names, const std::vector<std::string>& new_names,
                            const char* no_names_phrase);
// The "    added:" / "    removed:" lists.
void print_name_set_lists(std::ostream& out, const FeatureNameChanges& changes);
void print_file_size_line(std::ostream& out, std::uint64_t old_bytes, std::uint64_t new_bytes);
std::string optional_real(const std::optional<double>& value);
void print_summary_frame_end(std::ostream& out, const std::string& verdict_line, const char* note);

}  // namespace tarnwick
