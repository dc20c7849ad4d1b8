// The ONNX inspector (`onnx`), architecture explanation and diff.
#pragma once

#include <ostream>
#include <string>

#include "base/io.h"
#include "base/json_output.h"
#include "base/status.h"
#include "onnx/onnx_summary.h"

namespace tarnwick {

Status onnx_command(const Args& args, Io& io);
Status explain_onnx(const std::string& path, Io& io);
Status onnx_diff(const std::string& old_path, const std::string& new_path, bool json, Io& io);

Json onnx_summary_object(const OnnxSummary& summary);
Json onnx_initializer_object(const OnnxInitializer& initializer);
Json onnx_inspect_document(const OnnxSummary& summary);

// "scalar" or "[d0, d1, ...]".
std::string format_dims(const std::vector<std::uint64_t>& dims);
std::string format_dims(const DimList& dims);
// As format_dims, written straight to `out`: a shape of millions of dimensions builds no text.
void write_dims(std::ostream& out, const DimList& dims);
// "[t0, t1, ...]", or "?" when the shape is unknown.
std::string format_shape_texts(const std::vector<std::string>& shape);

// The explain-diff sections between "Architecture:" and the verdict.
void explain_onnx_change(std::ostream& out, const OnnxSummary& old_model, const OnnxSummary& new_model);

}  // namespace tarnwick
