#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "tables/tensor_contents_diff.h"
#include "tables/tensor_contents_report.h"
#include "tensor/tensor.h"

namespace tarnwick {

namespace {

std::string diff_format(const TensorTable& old_table, const TensorTable& new_table) {
  if (old_table.format == new_table.format) return old_table.format;
  return old_table.format + " vs " + new_table.format;
}

}  // namespace

std::string pair_name(const TensorEntry& old_tensor, const TensorEntry& new_tensor) {
  if (old_tensor.name == new_tensor.name) return escape_control(old_tensor.name);
  return escape_control(old_tensor.name) + " -> " + escape_control(new_tensor.name);
}

namespace {

OrderedJson side_json(const TensorEntry& tensor) {
  OrderedJson side;
  side["dtype"] = tensor.dtype;
  side["shape"] = tensor.shape;
  side["numel"] = tensor.numel;
  side["bytes"] = tensor.bytes;
  side["fingerprint"] = OrderedJson(json_fingerprint(tensor.content_hash));
  return side;
}

OrderedJson names_json(const std::vector<const TensorEntry*>& tensors) {
  OrderedJson names = OrderedJson::array();
  for (const TensorEntry* tensor : tensors) names.push_back(tensor->name);
  return names;
}

void print_tensor_list(std::ostream& out, std::string_view heading, const std::vector<const TensorEntry*>& tensors,
                       std::uint64_t limit) {
  out << "\n" << heading << ":\n";
  if (tensors.empty()) out << "  none\n";
  for (std::size_t i = 0; i < tensors.size() && i < limit; ++i) {
    out << "  " << escape_control(tensors[i]->name) << " " << tensor_shape_and_dtype(*tensors[i]) << "\n";
  }
  print_rest_count(out, tensors.size(), limit);
}

// Shown only when there are some: most files have every tensor's bytes at hand.
void print_uncompared(std::ostream& out, const std::vector<UncomparedTensor>& uncompared, std::uint64_t limit) {
  if (uncompared.empty()) return;
  out << "\nUncompared Tensors:\n";
  for (std::size_t i = 0; i < uncompared.size() && i < limit; ++i) {
    out << "  " << escape_control(uncompared[i].old_tensor->name) << ": " << escape_control(uncompared[i].reason) << "\n";
  }
  print_rest_count(out, uncompared.size(), limit);
}

void print_renamed(std::ostream& out, const std::vector<RenamedTensor>& renamed, std::uint64_t limit) {
  out << "\nRenamed Tensors:\n";
  if (renamed.empty()) out << "  none\n";
  for (std::size_t i = 0; i < renamed.size() && i < limit; ++i) {
    out << "  " << pair_name(*renamed[i].old_tensor, *renamed[i].new_tensor) << "\n";
  }
  print_rest_count(out, renamed.size(), limit);
}

std::uint64_t sum_or_zero(const TensorTable& table, bool parameters) {
  Result<TensorTotals> totals = tensor_totals(table);
  if (!totals.is_ok()) return 0;
  return parameters ? totals.value().parameters : totals.value().bytes;
}

}  // namespace

std::string tensor_change_text(const TensorChange& change) {
  std::string text;
  for (const std::string& what : change.what) {
    if (!text.empty()) text += ", ";
    if (what == "dtype") {
      text += "dtype " + escape_control(change.old_tensor->dtype) + " -> " +
              escape_control(change.new_tensor->dtype);
    } else if (what == "shape") {
      text += "shape " + shape_text(change.old_tensor->shape) + " -> " + shape_text(change.new_tensor->shape);
    } else {
      text += "values changed";
    }
  }
  return text;
}

OrderedJson contents_diff_json(const TensorTable& old_table, const TensorTable& new_table,
                               const TensorContentsDiff& diff, bool show_renames) {
  OrderedJson document;
  document["kind"] = "contents_diff";
  document["format"] = diff_format(old_table, new_table);
  document["added"] = names_json(diff.added);
  document["removed"] = names_json(diff.removed);
  OrderedJson changed = OrderedJson::array();
  for (const TensorChange& change : diff.changed) {
    OrderedJson entry;
    entry["name"] = change.old_tensor->name;
    if (change.new_tensor->name != change.old_tensor->name) entry["new_name"] = change.new_tensor->name;
    entry["what"] = change.what;
    entry["old"] = side_json(*change.old_tensor);
    entry["new"] = side_json(*change.new_tensor);
    changed.push_back(std::move(entry));
  }
  document["changed"] = std::move(changed);
  document["unchanged_count"] = diff.unchanged_count;
  OrderedJson uncompared = OrderedJson::array();
  for (const UncomparedTensor& tensor : diff.uncompared) {
    OrderedJson entry;
    entry["name"] = tensor.old_tensor->name;
    entry["reason"] = tensor.reason;
    uncompared.push_back(std::move(entry));
  }
  document["uncompared"] = std::move(uncompared);
  if (show_renames) {
    OrderedJson renamed = OrderedJson::array();
    for (const RenamedTensor& pair : diff.renamed) {
      OrderedJson entry;
      entry["old"] = pair.old_tensor->name;
      entry["new"] = pair.new_tensor->name;
      renamed.push_back(std::move(entry));
    }
    document["renamed"] = std::move(renamed);
  }
  return document;
}

Status print_contents_diff(std::ostream& out, const TensorTable& old_table, const TensorTable& new_table,
                           const TensorContentsDiff& diff, std::uint64_t limit, bool show_renames) {
  out << "Contents Diff\n-------------\n";
  out << "Old: " << escape_control(old_table.path) << " (" << old_table.format << ")\n";
  out << "New: " << escape_control(new_table.path) << " (" << new_table.format << ")\n";

  out << "\nStructure:\n";
  print_count_change(out, "Tensors", old_table.tensors.size(), new_table.tensors.size());
  print_count_change(out, "Parameters", sum_or_zero(old_table, true), sum_or_zero(new_table, true));
  print_size_change(out, "Tensor bytes", sum_or_zero(old_table, false), sum_or_zero(new_table, false));

  out << "\nTensor Changes:\n";
  out << "  Added: " << diff.added.size() << "\n";
  out << "  Removed: " << diff.removed.size() << "\n";
  out << "  Changed: " << diff.changed.size() << "\n";
  out << "  Unchanged: " << diff.unchanged_count << "\n";
  if (!diff.uncompared.empty()) out << "  Uncompared: " << diff.uncompared.size() << "\n";
  if (show_renames) out << "  Renamed: " << diff.renamed.size() << "\n";

  print_tensor_list(out, "Added Tensors", diff.added, limit);
  print_tensor_list(out, "Removed Tensors", diff.removed, limit);
  out << "\nChanged Tensors:\n";
  if (diff.changed.empty()) out << "  none\n";
  for (std::size_t i = 0; i < diff.changed.size() && i < limit; ++i) {
    const TensorChange& change = diff.changed[i];
    out << "  " << pair_name(*change.old_tensor, *change.new_tensor) << ": " << tensor_change_text(change) << "\n";
  }
  print_rest_count(out, diff.changed.size(), limit);
  print_uncompared(out, diff.uncompared, limit);
  if (show_renames) print_renamed(out, diff.renamed, limit);
  return Status::ok();
}

}  // namespace tarnwick
