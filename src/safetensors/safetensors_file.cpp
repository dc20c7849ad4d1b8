#include <algorithm>

#include "base/checked_math.h"
#include "base/json_text.h"
#include "base/positioned_file.h"
#include "safetensors/safetensors_dtypes.h"
#include "safetensors/safetensors_reader.h"
#include "tables/strict_json.h"

namespace tarnwick {

namespace {


std::uint64_t read_u64_le(std::string_view bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  return value;
}

Result<std::uint64_t> read_unsigned(const OrderedJson& value, const std::string& what) {
  if (!value.is_number_unsigned()) return fail(what + " is not a non-negative integer");
  return value.get<std::uint64_t>();
}

struct Span {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// One header entry: exactly dtype, shape and data_offsets, and a byte length that matches.
Result<Span> read_entry(const std::string& name, const OrderedJson& entry, TensorEntry& tensor) {
  std::string where = "tensor " + json_quoted(name);
  if (!entry.is_object()) return fail(where + ": entry is not an object");
  for (const auto& [key, value] : entry.items()) {
    if (key != "dtype" && key != "shape" && key != "data_offsets") return fail(where + ": unexpected key " + json_quoted(key));
  }
  if (!entry.contains("dtype") || !entry["dtype"].is_string()) return fail(where + ": dtype missing or not a string");
  const std::string& code = entry["dtype"].get_ref<const std::string&>();
  std::optional<SafetensorsDtype> dtype = find_safetensors_dtype(code);
  if (!dtype) return fail(where + ": unknown dtype " + json_quoted(code));

  if (!entry.contains("shape") || !entry["shape"].is_array()) return fail(where + ": shape missing or not a list");
  std::uint64_t numel = 1;
  for (const OrderedJson& dim : entry["shape"]) {
    Result<std::uint64_t> size = read_unsigned(dim, where + ": a shape dimension");
    if (!size.is_ok()) return size.error();
    std::optional<std::uint64_t> product = checked_multiply(numel, size.value());
    if (!product) return fail(where + ": shape product overflows 64 bits");
    numel = *product;
    tensor.shape.push_back(size.value());
  }

  const OrderedJson* offsets = entry.contains("data_offsets") ? &entry["data_offsets"] : nullptr;
  if (offsets == nullptr || !offsets->is_array() || offsets->size() != 2) {
    return fail(where + ": data_offsets missing or not a [begin, end] pair");
  }
  Result<std::uint64_t> begin = read_unsigned((*offsets)[0], where + ": data_offsets begin");
  if (!begin.is_ok()) return begin.error();
  Result<std::uint64_t> end = read_unsigned((*offsets)[1], where + ": data_offsets end");
  if (!end.is_ok()) return end.error();
  if (end.value() < begin.value()) return fail(where + ": data_offsets end lies before begin");

  std::optional<std::uint64_t> bits = checked_multiply(numel, dtype->bits);
  if (!bits) return fail(where + ": byte length overflows 64 bits");
  if (*bits % 8 != 0) return fail(where + ": " + std::to_string(numel) + " elements of " + code + " are not a whole number of bytes");
  std::uint64_t bytes = *bits / 8;
  if (bytes != end.value() - begin.value()) {
    return fail(where + ": data_offsets span " + std::to_string(end.value() - begin.value()) + " bytes, but " +
                std::to_string(numel) + " elements of " + code + " need " + std::to_string(bytes));
  }
  tensor.name = name;
  tensor.dtype = std::string(dtype->name);
  tensor.numel = numel;
  tensor.bytes = bytes;
  return Span{begin.value(), end.value()};
}

Status read_metadata(const OrderedJson& metadata, TensorTable& table) {
  if (!metadata.is_object()) return fail("__metadata__ is not an object");
  for (const auto& [key, value] : metadata.items()) {
    if (!value.is_string()) return fail("__metadata__ value of " + json_quoted(key) + " is not a string");
    table.metadata[key] = value.get<std::string>();
  }
  return Status::ok();
}

struct Placed {
  Span span;
  TensorEntry tensor;
};

// Sorted by begin, the entries must cover the data buffer exactly: no gap, no overlap.
Status check_tiling(const std::vector<Placed>& placed, std::uint64_t buffer_length) {
  std::uint64_t expected = 0;
  for (const Placed& entry : placed) {
    if (entry.span.begin < expected) {
      return fail("tensor " + json_quoted(entry.tensor.name) + " overlaps the previous tensor (begins at " +
                  std::to_string(entry.span.begin) + ", previous ends at " + std::to_string(expected) + ")");
    }
    if (entry.span.begin > expected) {
      return fail("gap in the data buffer before tensor " + json_quoted(entry.tensor.name) + " (begins at " +
                  std::to_string(entry.span.begin) + ", previous ends at " + std::to_string(expected) + ")");
    }
    expected = entry.span.end;
  }
  if (expected != buffer_length) {
    return fail("tensors cover " + std::to_string(expected) + " bytes of a " + std::to_string(buffer_length) +
                "-byte data buffer");
  }
  return Status::ok();
}

Result<TensorTable> read_header(const std::string& path, std::string_view header, std::uint64_t data_start,
                                std::uint64_t buffer_length) {
  if (header.empty() || header.front() != '{') return fail("header does not start with '{'");
  Result<OrderedJson> parsed = parse_strict_json(header);
  if (!parsed.is_ok()) return fail("header: " + parsed.message());
  const OrderedJson& document = parsed.value();
  if (!document.is_object()) return fail("header is not a JSON object");

  TensorTable table;
  table.path = path;
  table.format = "safetensors";
  std::vector<Placed> placed;
  for (const auto& [name, entry] : document.items()) {
    if (name == "__metadata__") {
      Status status = read_metadata(entry, table);
      if (!status.is_ok()) return status.error();
      continue;
    }
    Placed& next = placed.emplace_back();
    Result<Span> span = read_entry(name, entry, next.tensor);
    if (!span.is_ok()) return span.error();
    next.span = span.value();
  }
  std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.span.begin != b.span.begin ? a.span.begin < b.span.begin : a.span.end < b.span.end;
  });
  Status tiled = check_tiling(placed, buffer_length);
  if (!tiled.is_ok()) return tiled.error();
  for (Placed& entry : placed) {
    entry.tensor.offset = data_start + entry.span.begin;
    entry.tensor.data = TensorBytes{path, data_start + entry.span.begin, entry.tensor.bytes};
    table.tensors.push_back(std::move(entry.tensor));
  }
  return table;
}

}  // namespace

namespace {

Result<TensorTable> read_from(const PositionedFile& file, const std::string& path) {
  auto invalid = [&](const std::string& reason) { return fail("invalid safetensors file " + path + ": " + reason); };
  if (file.size() < 8) return invalid("shorter than the 8-byte header length");
  Result<std::string> length_bytes = file.read_at(0, 8);
  if (!length_bytes.is_ok()) return fail("read " + path + ": " + length_bytes.message());
  std::uint64_t header_length = read_u64_le(length_bytes.value());
  if (header_length > kSafetensorsHeaderCap) {
    return invalid("header length " + std::to_string(header_length) + " exceeds the limit of " +
                   std::to_string(kSafetensorsHeaderCap) + " bytes");
  }
  if (header_length > file.size() - 8) {
    return invalid("header length " + std::to_string(header_length) + " runs past the end of the " +
                   std::to_string(file.size()) + "-byte file");
  }
  Result<std::string> header = file.read_at(8, header_length);
  if (!header.is_ok()) return fail("read " + path + ": " + header.message());
  std::uint64_t data_start = 8 + header_length;
  Result<TensorTable> table = read_header(path, header.value(), data_start, file.size() - data_start);
  if (!table.is_ok()) return invalid(table.message());
  return table;
}

}  // namespace

Result<TensorTable> read_safetensors_file(const std::string& path) {
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(path);
  if (!opened.is_ok()) return opened.error();
  return read_from(*opened.value(), path);
}

Result<TensorTable> read_safetensors_bytes(std::string_view bytes, const std::string& name) {
  return read_from(PositionedFile(std::string(bytes)), name);
}

}  // namespace tarnwick
