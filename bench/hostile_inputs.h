// Writers of the crafted inputs the benchmark runs: small hostile files that once cost far more
// than their size, and large honest models. Each streams to disk without holding the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

using Path = std::filesystem::path;

// Legacy pickle: BINUNICODE headers whose long lengths fit the file.
void write_pickle_long_headers(const Path& path, std::uint64_t size);
// A zip whose central directory has `entries` storage entries sharing one 1 MiB blob.
void write_zip_shared_blob(const Path& path, int entries);
// ONNX: Relu nodes whose output is one initializer of `dims` dimensions, filling `size` bytes.
void write_onnx_relu_on_big_shape(const Path& path, std::uint64_t dims, std::uint64_t size);
// ONNX: `count` empty nodes.
void write_onnx_empty_nodes(const Path& path, std::uint64_t count);
// ONNX: `count` graph inputs without fields.
void write_onnx_empty_inputs(const Path& path, std::uint64_t count);
// ONNX: one initializer with packed dims of one byte each, filling `size` bytes.
void write_onnx_packed_dims(const Path& path, std::uint64_t size);
// ONNX: `count` float32 initializers of rows x columns with raw data, each used by a MatMul;
// `graph_extra` adds graph fields (a declared input, for the profile).
void write_onnx_model(const Path& path, int count, std::uint64_t rows, std::uint64_t columns,
                      const std::string& graph_extra = "");
// CBM: "CBM1" and a body of `size` bytes of the repeated `pattern`.
void write_cbm_body(const Path& path, const std::string& pattern, std::uint64_t size);
// CBM: `features` float features whose borders are one shared vector of `borders` floats.
void write_cbm_shared_borders(const Path& path, std::size_t features, std::size_t borders);
// PyTorch zip whose data.pkl holds empty lists nested `levels` deep.
void write_pytorch_nested_lists(const Path& path, std::uint64_t levels);
// LightGBM text whose feature_names line fills `size` bytes.
void write_lightgbm_feature_names(const Path& path, std::uint64_t size);
// LightGBM text model of trees with long value lines, at least `size` bytes.
void write_lightgbm_model(const Path& path, std::uint64_t size);
// A tensor-lab plan whose input data array fills `size` bytes.
void write_plan_data(const Path& path, std::uint64_t size);
// A shape-only plan of `layers` linear layers of `width`, from input [1, width] (or [width, width]).
void write_linear_plan(const Path& path, int layers, std::uint64_t width, bool square_input);
void write_text(const Path& path, const std::string& text);

}  // namespace bench
