#include "tables/tensor_contents_report.h"

#include <algorithm>
#include <map>
#include <vector>

#include "base/change_lines.h"
#include "base/checked_math.h"
#include "base/format.h"
#include "base/text.h"
#include "tables/architecture.h"
#include "tensor/tensor.h"

namespace tarnwick {

namespace {

std::vector<std::pair<std::string, std::uint64_t>> dtype_mix(const TensorTable& table) {
  std::map<std::string, std::uint64_t> counts;
  for (const TensorEntry& tensor : table.tensors) ++counts[tensor.dtype];
  std::vector<std::pair<std::string, std::uint64_t>> mix(counts.begin(), counts.end());
  std::stable_sort(mix.begin(), mix.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  return mix;
}

std::string metadata_value_text(const Json& value) {
  if (value.is_string()) return escape_control(value.get_ref<const std::string&>());
  // A long GGUF array, summarised by the reader.
  if (value.is_object() && value.size() == 2 && value.contains("type") && value.contains("count")) {
    return "array of " + value["count"].dump() + " " + escape_control(value["type"].is_string() ? value["type"].get<std::string>() : value["type"].dump()) + " values";
  }
  return escape_control(value.dump());
}

void print_metadata(std::ostream& out, const Json& metadata, std::uint64_t limit) {
  out << "\nMetadata:\n";
  if (metadata.empty()) {
    out << "  none\n";
    return;
  }
  std::uint64_t shown = 0;
  for (const auto& [key, value] : metadata.items()) {
    if (shown++ == limit) break;
    out << "  " << escape_control(key) << ": " << metadata_value_text(value) << "\n";
  }
  print_rest_count(out, metadata.size(), limit);
}

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

struct Row {
  std::string name, dtype, shape, parameters, bytes;
};

void print_tensor_rows(std::ostream& out, const TensorTable& table, std::uint64_t limit) {
  out << "\nTensors:\n";
  if (table.tensors.empty()) {
    out << "  none\n";
    return;
  }
  std::vector<Row> rows{{"Name", "Dtype", "Shape", "Parameters", "Bytes"}};
  for (const TensorEntry& tensor : table.tensors) {
    if (rows.size() > limit) break;
    rows.push_back({escape_control(tensor.name), escape_control(tensor.dtype),
                    shape_text(tensor.shape), std::to_string(tensor.numel), format_bytes(tensor.bytes)});
  }
  std::size_t name_width = 0, dtype_width = 0, shape_width = 0, parameters_width = 0, bytes_width = 0;
  for (const Row& row : rows) {
    name_width = std::max(name_width, code_points(row.name));
    dtype_width = std::max(dtype_width, code_points(row.dtype));
    shape_width = std::max(shape_width, row.shape.size());
    parameters_width = std::max(parameters_width, row.parameters.size());
    bytes_width = std::max(bytes_width, row.bytes.size());
  }
  for (const Row& row : rows) {
    out << "  " << pad_right(row.name, name_width) << "  " << pad_right(row.dtype, dtype_width) << "  "
        << pad_right(row.shape, shape_width) << "  " << pad_left(row.parameters, parameters_width) << "  "
        << pad_left(row.bytes, bytes_width) << "\n";
  }
  print_rest_count(out, table.tensors.size(), limit);
}

}  // namespace

Result<TensorTotals> tensor_totals(const TensorTable& table) {
  TensorTotals totals;
  for (const TensorEntry& tensor : table.tensors) {
    std::optional<std::uint64_t> parameters = checked_add(totals.parameters, tensor.numel);
    std::optional<std::uint64_t> bytes = checked_add(totals.bytes, tensor.bytes);
    if (!parameters || !bytes) return fail("the parameter count of " + table.path + " overflows 64 bits");
    totals.parameters = *parameters;
    totals.bytes = *bytes;
  }
  return totals;
}

std::string tensor_shape_and_dtype(const TensorEntry& tensor) {
  return escape_control(tensor.dtype) + " " + shape_text(tensor.shape);
}

Result<OrderedJson> tensor_contents_json(const TensorTable& table) {
  Result<TensorTotals> totals = tensor_totals(table);
  if (!totals.is_ok()) return totals.error();
  Json dtype_counts = Json::object();
  for (const TensorEntry& tensor : table.tensors) {
    dtype_counts[tensor.dtype] = dtype_counts.value(tensor.dtype, std::uint64_t{0}) + 1;
  }
  OrderedJson document;
  document["kind"] = "tensor_contents";
  document["path"] = table.path;
  document["format"] = table.format;
  document["tensor_count"] = table.tensors.size();
  document["parameter_count"] = totals.value().parameters;
  document["tensor_bytes"] = totals.value().bytes;
  if (table.storage_count) document["storage_count"] = *table.storage_count;
  if (table.storage_bytes) document["storage_bytes"] = *table.storage_bytes;
  document["dtype_counts"] = OrderedJson(dtype_counts);
  document["metadata"] = OrderedJson(table.metadata);
  OrderedJson tensors = OrderedJson::array();
  for (const TensorEntry& tensor : table.tensors) {
    OrderedJson entry;
    entry["name"] = tensor.name;
    entry["dtype"] = tensor.dtype;
    entry["shape"] = tensor.shape;
    entry["numel"] = tensor.numel;
    entry["bytes"] = tensor.bytes;
    entry["offset"] = ordered_optional(tensor.offset);
    entry["storage"] = ordered_optional(tensor.storage);
    tensors.push_back(std::move(entry));
  }
  document["tensors"] = std::move(tensors);
  return document;
}

Status print_tensor_contents(std::ostream& out, const TensorTable& table, std::uint64_t limit,
                             const std::optional<ArchitectureFacts>& architecture) {
  Result<TensorTotals> totals = tensor_totals(table);
  if (!totals.is_ok()) return totals.error();
  out << "Tensor Contents\n---------------\n";
  out << "Model: " << escape_control(table.path) << "\n";
  out << "Format: " << table.format << "\n";
  out << "Tensors: " << table.tensors.size() << "\n";
  out << "Parameters: " << format_count_short(totals.value().parameters) << " (" << totals.value().parameters << ")\n";
  out << "Tensor bytes: " << format_bytes(totals.value().bytes) << " (" << totals.value().bytes << ")\n";
  if (table.storage_count) out << "Storages: " << *table.storage_count << "\n";
  if (table.storage_bytes) out << "Storage bytes: " << format_bytes(*table.storage_bytes) << "\n";

  out << "\nDtype Mix:\n";
  std::vector<std::pair<std::string, std::uint64_t>> mix = dtype_mix(table);
  if (mix.empty()) out << "  none\n";
  for (const auto& [dtype, count] : mix) {
    out << "  " << escape_control(dtype) << ": " << count << (count == 1 ? " tensor\n" : " tensors\n");
  }
  if (architecture) print_architecture(out, *architecture);
  print_metadata(out, table.metadata, limit);
  print_tensor_rows(out, table, limit);
  return Status::ok();
}

}  // namespace tarnwick
