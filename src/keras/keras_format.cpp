#include "keras/keras_format.h"

#include "base/little_endian.h"
#include "descriptor/tensor_file_operations.h"
#include "keras/keras_archive.h"
#include "keras/keras_scan.h"

namespace tarnwick {

namespace {

std::vector<MetadataHighlight> keras_highlights(const Json& metadata) {
  std::vector<MetadataHighlight> highlights;
  for (const char* key : {"keras_version", "class_name"}) {
    if (!metadata.contains(key) || metadata[key].is_null()) continue;
    const Json& value = metadata[key];
    highlights.push_back({key, key, value.is_string() ? value.get<std::string>() : value.dump()});
  }
  if (metadata.contains("layers") && metadata["layers"].is_array()) {
    highlights.push_back({"layers", "layers", std::to_string(metadata["layers"].size())});
  }
  return highlights;
}

// Weight paths are Keras's own ("layers/dense/vars/0"), so the architecture stays unknown
// unless they show numbered blocks.
ArchitectureFacts nothing_stated(const TensorTable&) { return {}; }

// Keras writes metadata.json, config.json and model.weights.h5, the first one first.
bool holds_keras_model(const ContentProbe& probe) {
  std::string_view head = probe.head;
  if (!head.starts_with(std::string_view("PK\x03\x04", 4)) || head.size() < 30) return false;
  std::uint64_t name_length = little_endian(head, 26, 2);
  if (head.size() < 30 + name_length) return false;
  std::string_view name = head.substr(30, name_length);
  return name == "metadata.json" || name == "config.json";
}

}  // namespace

const TensorFileFormat kKerasModel{
    .name = "Keras",
    .title = "Keras",
    .json_type = "keras",
    .read_table = read_keras_table,
    .highlights = keras_highlights,
    .stated_architecture = nothing_stated,
};

const FormatDescriptor kKerasFormat = [] {
  FormatDescriptor format = tensor_file_descriptor<kKerasModel>({"keras"}, holds_keras_model);
  format.scan = scan::scan_keras;
  return format;
}();

}  // namespace tarnwick
