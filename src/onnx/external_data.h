// Initializers whose bytes live in other files, and the checks a loader should make before
// opening those files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "onnx/onnx_graph.h"

namespace tarnwick {

struct ExternalDataRef {
  std::string tensor;  // the initializer's name
  std::string graph;   // "" for the main graph, else "node/attribute" steps from it joined by '/'
  std::vector<std::int64_t> dims;
  std::optional<std::int32_t> data_type;
  std::vector<std::pair<std::string, std::string>> entries;  // every key/value as stored
  std::optional<std::string> location;
  std::optional<std::string> offset;  // as stored; see the parsed forms below
  std::optional<std::string> length;
  std::optional<std::string> checksum;
  std::optional<std::uint64_t> offset_value;  // unset when absent or not a decimal count
  std::optional<std::uint64_t> length_value;
};

// Every initializer with data_location EXTERNAL, the If/Loop/Scan bodies included, in file order
// (a graph's own initializers before those of its nodes' subgraphs).
std::vector<ExternalDataRef> list_external_data(const OnnxGraph& graph);

// A POSIX absolute path, a backslash root or a drive letter.
bool location_is_absolute(std::string_view location);
// True for an absolute location, one that leaves `model_dir` through "..", or one that reaches
// outside it through a symlink.
bool location_escapes(const std::filesystem::path& model_dir, std::string_view location);

struct ExternalDataCheck {
  bool escapes = false;
  bool exists = false;                      // a regular file (never looked up when it escapes)
  std::optional<std::uint64_t> file_size;   // when it exists
  std::optional<std::uint64_t> needed_bytes;  // offset + (length, or the tensor's own size)
  std::optional<bool> size_suffices;        // unknown when the file or the needed size is unknown
};

ExternalDataCheck check_external_data(const std::filesystem::path& model_dir, const ExternalDataRef& ref);

// Bytes of a tensor of `dims` and element type, when both are known and the size fits 64 bits.
std::optional<std::uint64_t> tensor_byte_size(const std::vector<std::int64_t>& dims, std::optional<std::int32_t> data_type);

}  // namespace tarnwick
