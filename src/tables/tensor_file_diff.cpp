#include <map>
#include <ostream>
#include <set>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "tables/tensor_file_changes.h"
#include "tables/tensor_file_commands.h"
#include "tables/tensor_file_lines.h"
#include "tensor/tensor.h"

namespace tarnwick {

namespace {

constexpr std::size_t kListed = 20;

std::optional<std::string> metadata_text(const TensorFileSummary& summary, const std::string& key) {
  if (key.starts_with(kConfigKeyPrefix)) {
    auto found = summary.config.is_object() ? summary.config.find(key.substr(kConfigKeyPrefix.size()))
                                            : summary.config.end();
    if (!summary.config.is_object() || found == summary.config.end()) return std::nullopt;
    if (found->is_string()) return found->get<std::string>();
    return found->dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  for (const MetadataHighlight& highlight : summary.highlights) {
    if (highlight.key == key) return highlight.text;
  }
  auto found = summary.metadata.find(key);
  if (found == summary.metadata.end()) return std::nullopt;
  if (found->is_string()) return found->get<std::string>();
  if (found->is_object() && found->contains("count")) {
    return "array of " + (*found)["count"].dump() + " values";
  }
  return found->dump(-1, ' ', false, Json::error_handler_t::replace);
}

void print_listed(std::ostream& out, const std::string& heading, const std::vector<std::string>& lines) {
  out << heading << ":\n";
  if (lines.empty()) {
    out << "  none\n";
    return;
  }
  for (std::size_t i = 0; i < lines.size() && i < kListed; ++i) out << "  " << lines[i] << "\n";
  print_rest_count(out, lines.size(), kListed);
}

void print_dtype_counts(std::ostream& out, const TensorFileSummary& old_model, const TensorFileSummary& new_model) {
  std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> counts;
  for (const DtypeShare& share : old_model.dtype_mix) counts[share.dtype].first = share.tensors;
  for (const DtypeShare& share : new_model.dtype_mix) counts[share.dtype].second = share.tensors;
  out << "\nDtype Mix:\n";
  if (counts.empty()) out << "  none\n";
  for (const auto& [dtype, pair] : counts) print_count_change(out, escape_control(dtype) + " tensors", pair.first, pair.second);
}

void print_metadata_changes(std::ostream& out, const TensorFileSummary& old_model, const TensorFileSummary& new_model,
                            const TensorFileChanges& changes) {
  out << "\nMetadata:\n";
  print_count_change(out, "Metadata keys", old_model.metadata_value_hashes.size(), new_model.metadata_value_hashes.size());
  std::vector<std::string> lines;
  for (const std::string& key : changes.metadata_added) {
    lines.push_back("added:   " + escape_control(key) + ": " + escape_control(metadata_text(new_model, key).value_or("")));
  }
  for (const std::string& key : changes.metadata_removed) lines.push_back("removed: " + escape_control(key));
  for (const std::string& key : changes.metadata_changed) {
    std::string old_text = escape_control(metadata_text(old_model, key).value_or(""));
    std::string new_text = escape_control(metadata_text(new_model, key).value_or(""));
    lines.push_back("changed: " + escape_control(key) + ": " +
                    (old_text == new_text ? old_text + " (contents differ)" : old_text + " -> " + new_text));
  }
  print_listed(out, "Metadata changes", lines);
}

void print_tensor_changes(std::ostream& out, const TensorFileSummary& old_model, const TensorFileSummary& new_model,
                          const TensorFileChanges& changes) {
  TensorsByName old_tensors = tensors_by_name(old_model), new_tensors = tensors_by_name(new_model);
  out << "\nTensors:\n";
  print_count_change(out, "Tensor count", old_model.tensors.size(), new_model.tensors.size());
  std::vector<std::string> old_names = tensor_names(old_model), new_names = tensor_names(new_model);
  for (std::string& name : old_names) name = escape_control(name);
  for (std::string& name : new_names) name = escape_control(name);
  print_feature_name_changes(out, old_names, new_names);
  std::vector<std::string> dtype_lines, shape_lines;
  for (const std::string& name : changes.dtype_changed) {
    dtype_lines.push_back(escape_control(name) + ": " + escape_control(old_tensors[name]->dtype) + " -> " +
                          escape_control(new_tensors[name]->dtype));
  }
  for (const std::string& name : changes.shape_changed) {
    shape_lines.push_back(escape_control(name) + ": " + shape_text(old_tensors[name]->shape) + " -> " +
                          shape_text(new_tensors[name]->shape));
  }
  print_listed(out, "Dtype changes", dtype_lines);
  print_listed(out, "Shape changes", shape_lines);
  std::vector<std::string> value_lines;
  for (const std::string& name : changes.values_changed) value_lines.push_back(escape_control(name));
  print_listed(out, "Value changes", value_lines);
  out << "Unchanged tensors:\n  " << changes.unchanged << "\n";
}

void print_text_diff(std::ostream& out, const TensorFileSummary& old_model, const TensorFileSummary& new_model) {
  TensorFileChanges changes = compare_tensor_files(old_model, new_model);
  out << "Model Diff\n----------\nType: " << old_model.format->name << "\n";
  out << "Old: " << escape_control(old_model.path) << "\nNew: " << escape_control(new_model.path) << "\n\n";
  out << "Structure:\n";
  print_size_change(out, "File size", old_model.file_size_bytes, new_model.file_size_bytes);
  print_count_change(out, "Tensors", old_model.tensors.size(), new_model.tensors.size());
  print_count_change(out, "Parameters", old_model.parameter_count, new_model.parameter_count);
  print_size_change(out, "Tensor bytes", old_model.tensor_bytes, new_model.tensor_bytes);
  print_text_change(out, "Dominant dtype", old_model.dominant_dtype, new_model.dominant_dtype);
  print_dtype_counts(out, old_model, new_model);
  print_metadata_changes(out, old_model, new_model, changes);

  out << "\nFingerprints:\n";
  print_fingerprint_change(out, "Full artifact fingerprint", old_model.file_fingerprint, new_model.file_fingerprint);
  print_fingerprint_change(out, "Metadata fingerprint", old_model.metadata_fingerprint, new_model.metadata_fingerprint);
  print_fingerprint_change(out, "Learned-state fingerprint", old_model.learned_state_fingerprint,
                           new_model.learned_state_fingerprint);
  print_tensor_changes(out, old_model, new_model, changes);
}

OrderedJson changes_json(const TensorFileChanges& changes) {
  OrderedJson record;
  record["tensors_added"] = changes.names.added;
  record["tensors_removed"] = changes.names.removed;
  record["dtype_changed"] = changes.dtype_changed;
  record["shape_changed"] = changes.shape_changed;
  record["values_changed"] = changes.values_changed;
  record["unchanged_count"] = changes.unchanged;
  record["metadata_added"] = changes.metadata_added;
  record["metadata_removed"] = changes.metadata_removed;
  record["metadata_changed"] = changes.metadata_changed;
  return record;
}

}  // namespace

Status tensor_file_diff(const std::string& old_path, const std::string& new_path, const TensorFileFormat& format,
                        bool json, Io& io) {
  Result<ArtifactPair<TensorFileSummary>> pair = read_tensor_file_pair(old_path, new_path, format);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  if (json) {
    OrderedJson document;
    document["kind"] = "tensor_file_diff";
    document["type"] = std::string(format.json_type);
    document["old"] = tensor_file_summary_json(old_model);
    document["new"] = tensor_file_summary_json(new_model);
    document["changes"] = changes_json(compare_tensor_files(old_model, new_model));
    return print_json_document(io.out, document);
  }
  print_text_diff(io.out, old_model, new_model);
  return Status::ok();
}

}  // namespace tarnwick
