// Lines shared by the tensor checkpoint reports: titles, the dtype mix, highlights.
#pragma once

#include <ostream>
#include <string>

#include "tables/tensor_file_summary.h"

namespace tarnwick {

std::string tensor_file_kind_title(const TensorFileSummary& summary);  // "GGUF", "Safetensors"
// "q4_k (85% of tensor bytes)"
std::string dominant_dtype_text(const TensorFileSummary& summary);
void print_dtype_mix(std::ostream& out, const TensorFileSummary& summary);
void print_highlights(std::ostream& out, const TensorFileSummary& summary);

}  // namespace tarnwick
