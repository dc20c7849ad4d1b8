#include <map>
#include <ostream>
#include <set>

#include "base/artifact_pair.h"
#include "base/change_json.h"
#include "base/change_lines.h"
#include "base/figure_notes.h"
#include "base/format.h"
#include "base/text.h"
#include "onnx/onnx_commands.h"

namespace tarnwick {

namespace {

using InitializerMap = std::map<std::string, const OnnxInitializer*>;

InitializerMap by_name(const OnnxSummary& summary) {
  InitializerMap map;
  for (const OnnxInitializer& initializer : summary.initializers) map[initializer.name] = &initializer;
  return map;
}

bool initializers_differ(const OnnxInitializer& a, const OnnxInitializer& b) {
  return a.dims != b.dims || a.data_type != b.data_type || a.data_fingerprint != b.data_fingerprint ||
         a.external_data_fingerprint != b.external_data_fingerprint || a.data_location != b.data_location ||
         a.external_data_entries != b.external_data_entries;
}

struct TensorChanges {
  std::vector<std::pair<std::string, const OnnxInitializer*>> added, removed;
  std::vector<std::tuple<std::string, const OnnxInitializer*, const OnnxInitializer*>> changed;
};

TensorChanges compare_initializers(const OnnxSummary& old_model, const OnnxSummary& new_model) {
  InitializerMap old_map = by_name(old_model), new_map = by_name(new_model);
  TensorChanges changes;
  for (const auto& [name, initializer] : new_map) {
    auto old_entry = old_map.find(name);
    if (old_entry == old_map.end()) {
      changes.added.emplace_back(name, initializer);
    } else if (initializers_differ(*old_entry->second, *initializer)) {
      changes.changed.emplace_back(name, old_entry->second, initializer);
    }
  }
  for (const auto& [name, initializer] : old_map) {
    if (!new_map.count(name)) changes.removed.emplace_back(name, initializer);
  }
  return changes;
}

struct OpCountChange {
  std::string op;
  std::uint64_t old_count, new_count;
};

std::vector<OpCountChange> compare_op_counts(const OnnxSummary& old_model, const OnnxSummary& new_model) {
  std::map<std::string, std::uint64_t> old_counts(old_model.op_counts.begin(), old_model.op_counts.end());
  std::map<std::string, std::uint64_t> new_counts(new_model.op_counts.begin(), new_model.op_counts.end());
  std::set<std::string> ops;
  for (const auto& [op, count] : old_counts) ops.insert(op);
  for (const auto& [op, count] : new_counts) ops.insert(op);
  std::vector<OpCountChange> changes;
  for (const std::string& op : ops) {
    std::uint64_t before = old_counts.count(op) ? old_counts[op] : 0;
    std::uint64_t after = new_counts.count(op) ? new_counts[op] : 0;
    if (before != after) changes.push_back({op, before, after});
  }
  return changes;
}

std::string initializer_detail(const OnnxInitializer& initializer) {
  std::string detail = format_dims(initializer.dims) + " " + data_type_name(initializer.data_type);
  if (is_external(initializer)) {
    detail += ", external data";
  } else if (initializer.data_fingerprint) {
    detail += ", data " + format_fingerprint(*initializer.data_fingerprint);
  }
  return detail;
}

constexpr std::size_t kShownTensors = 12;

template <class Entries, class Print>
void print_tensor_block(std::ostream& out, const char* heading, const Entries& entries, Print print) {
  if (entries.empty()) return;
  out << heading;
  for (std::size_t i = 0; i < entries.size() && i < kShownTensors; ++i) print(entries[i]);
  if (entries.size() > kShownTensors) out << "    ... " << entries.size() - kShownTensors << " more\n";
}

void print_text_diff(std::ostream& out, const OnnxSummary& old_model, const OnnxSummary& new_model) {
  out << "Model Diff\n----------\nType: ONNX\n";
  out << "Old: " << escape_control(old_model.name) << "\nNew: " << escape_control(new_model.name) << "\n\n";
  print_size_change(out, "File size", old_model.file_size_bytes, new_model.file_size_bytes);
  print_count_change(out, "Nodes", old_model.node_count, new_model.node_count);
  print_count_change(out, "Initializers", old_model.initializers.size(), new_model.initializers.size());
  print_count_change(out, "Parameter values", old_model.parameter_values, new_model.parameter_values);
  print_size_change(out, "Parameter memory", old_model.parameter_memory_bytes, new_model.parameter_memory_bytes);
  print_count_change(out, "Estimated ops", old_model.estimated_ops, new_model.estimated_ops);

  out << "\nParameter Tensors:\n";
  print_count_change(out, "Initializer tensors", old_model.initializers.size(), new_model.initializers.size());
  TensorChanges tensors = compare_initializers(old_model, new_model);
  out << "Parameter tensor changes:\n";
  if (tensors.added.empty() && tensors.removed.empty() && tensors.changed.empty()) {
    out << "  none detected from initializer metadata\n";
  }
  auto print_one = [&](const auto& entry) {
    out << "    " << escape_control(entry.first) << " " << initializer_detail(*entry.second) << "\n";
  };
  print_tensor_block(out, "  Added:\n", tensors.added, print_one);
  print_tensor_block(out, "  Removed:\n", tensors.removed, print_one);
  print_tensor_block(out, "  Changed:\n", tensors.changed, [&](const auto& entry) {
    out << "    " << escape_control(std::get<0>(entry)) << " " << initializer_detail(*std::get<1>(entry)) << " -> "
        << initializer_detail(*std::get<2>(entry)) << "\n";
  });

  out << "\nOperator Count Changes:\n";
  for (const OpCountChange& change : compare_op_counts(old_model, new_model)) {
    out << "  " << pad_right(escape_control(change.op), 24) << " " << change.old_count << " -> " << change.new_count
        << " (" << format_delta(change.old_count, change.new_count) << ")\n";
  }
  print_note_section(out, pair_notes(old_model.estimate_notes, new_model.estimate_notes));
}

Json diff_document(const OnnxSummary& old_model, const OnnxSummary& new_model) {
  Json changes = {
      {"file_size_bytes", count_change_json(old_model.file_size_bytes, new_model.file_size_bytes)},
      {"nodes", count_change_json(old_model.node_count, new_model.node_count)},
      {"initializers", count_change_json(old_model.initializers.size(), new_model.initializers.size())},
      {"parameter_values", count_change_json(old_model.parameter_values, new_model.parameter_values)},
      {"parameter_memory_bytes", count_change_json(old_model.parameter_memory_bytes, new_model.parameter_memory_bytes)},
      {"estimated_ops", count_change_json(old_model.estimated_ops, new_model.estimated_ops)},
  };
  TensorChanges tensors = compare_initializers(old_model, new_model);
  Json added = Json::array(), removed = Json::array(), changed = Json::array();
  for (const auto& [name, initializer] : tensors.added) {
    added.push_back({{"name", name}, {"tensor", onnx_initializer_object(*initializer)}});
  }
  for (const auto& [name, initializer] : tensors.removed) {
    removed.push_back({{"name", name}, {"tensor", onnx_initializer_object(*initializer)}});
  }
  for (const auto& [name, before, after] : tensors.changed) {
    changed.push_back(
        {{"name", name}, {"old", onnx_initializer_object(*before)}, {"new", onnx_initializer_object(*after)}});
  }
  Json op_changes = Json::array();
  for (const OpCountChange& change : compare_op_counts(old_model, new_model)) {
    Json delta = count_change_json(change.old_count, change.new_count)["delta"];
    op_changes.push_back({{"op", change.op}, {"old", change.old_count}, {"new", change.new_count}, {"delta", delta}});
  }
  Json document;
  document["kind"] = "onnx_diff";
  document["model_type"] = "ONNX";
  document["old"] = onnx_summary_object(old_model);
  document["new"] = onnx_summary_object(new_model);
  document["changes"] = changes;
  document["parameter_tensors"] = {
      {"added", added},
      {"removed", removed},
      {"changed", changed},
      {"added_count", tensors.added.size()},
      {"removed_count", tensors.removed.size()},
      {"changed_count", tensors.changed.size()},
  };
  document["operator_count_changes"] = op_changes;
  return document;
}

}  // namespace

Status onnx_diff(const std::string& old_path, const std::string& new_path, bool json, Io& io) {
  Result<ArtifactPair<OnnxSummary>> pair = read_artifact_pair(read_onnx_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  if (json) return print_json_document(io.out, diff_document(old_model, new_model));
  print_text_diff(io.out, old_model, new_model);
  return Status::ok();
}

}  // namespace tarnwick
