#include "gguf/gguf_reader.h"

#include <algorithm>
#include <set>

#include "gguf/ggml_types.h"
#include "gguf/gguf_values.h"
#include "base/checked_math.h"
#include "base/json_text.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kDefaultAlignment = 32;


struct TensorInfo {
  TensorEntry entry;
  std::uint32_t type = 0;
  std::uint64_t relative_offset = 0;
};

Result<std::uint64_t> read_header_count(GgufCursor& cursor, GgufSizes sizes, const char* what) {
  Result<std::uint64_t> count = read_gguf_size(cursor, sizes);
  if (!count.is_ok()) return fail(std::string("reading the ") + what + ": " + count.message());
  return count;
}

Status read_metadata(GgufCursor& cursor, GgufSizes sizes, std::uint64_t kv_count, TensorTable& table,
                     std::uint64_t& alignment) {
  Json& metadata = table.metadata;
  std::uint64_t section_start = cursor.position();
  // A key/value takes at least a key length, a type and one byte.
  if (checked_multiply(kv_count, static_cast<std::uint64_t>(sizes.width) + 5).value_or(UINT64_MAX) > cursor.bytes_left()) {
    return fail(std::to_string(kv_count) + " metadata entries cannot fit in the file");
  }
  for (std::uint64_t i = 0; i < kv_count; ++i) {
    Result<std::string> key = read_gguf_string(cursor, sizes, true);
    if (!key.is_ok()) return fail("metadata key " + std::to_string(i) + ": " + key.message());
    if (metadata.contains(key.value())) return fail("duplicate metadata key " + json_quoted(key.value()));
    std::uint64_t value_start = cursor.position();
    Result<std::uint64_t> type = cursor.read_unsigned(4);
    if (!type.is_ok()) return fail("metadata " + json_quoted(key.value()) + ": " + type.message());
    std::uint32_t value_type = static_cast<std::uint32_t>(type.value());
    Result<Json> value = read_gguf_value(cursor, sizes, value_type);
    if (!value.is_ok()) return fail("metadata " + json_quoted(key.value()) + ": " + value.message());
    if (key.value() == "general.alignment") {
      if (value_type != kGgufTypeUint32) return fail("general.alignment is not a uint32");
      alignment = value.value().get<std::uint64_t>();
      if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
        return fail("general.alignment " + std::to_string(alignment) + " is not a power of two");
      }
    }
    table.metadata_value_bytes[key.value()] = TensorBytes{table.path, value_start, cursor.position() - value_start};
    metadata[key.value()] = value.take();
  }
  table.metadata_bytes = TensorBytes{table.path, section_start, cursor.position() - section_start};
  return Status::ok();
}

Result<TensorInfo> read_tensor_info(GgufCursor& cursor, GgufSizes sizes) {
  TensorInfo info;
  Result<std::string> name = read_gguf_string(cursor, sizes, true);
  if (!name.is_ok()) return fail("tensor name: " + name.message());
  info.entry.name = name.take();
  std::string where = "tensor " + json_quoted(info.entry.name);
  Result<std::uint64_t> n_dims = cursor.read_unsigned(4);
  if (!n_dims.is_ok()) return fail(where + ": " + n_dims.message());
  if (n_dims.value() * static_cast<std::uint64_t>(sizes.width) > cursor.bytes_left()) {
    return fail(where + ": " + std::to_string(n_dims.value()) + " dimensions run past the end of the file");
  }
  std::uint64_t numel = 1;
  for (std::uint64_t d = 0; d < n_dims.value(); ++d) {
    Result<std::uint64_t> dim = read_gguf_size(cursor, sizes);
    if (!dim.is_ok()) return fail(where + ": " + dim.message());
    std::optional<std::uint64_t> product = checked_multiply(numel, dim.value());
    if (!product) return fail(where + ": shape product overflows 64 bits");
    numel = *product;
    info.entry.shape.push_back(dim.value());
  }
  info.entry.numel = numel;
  Result<std::uint64_t> type = cursor.read_unsigned(4);
  if (!type.is_ok()) return fail(where + ": " + type.message());
  Result<std::uint64_t> offset = cursor.read_unsigned(8);
  if (!offset.is_ok()) return fail(where + ": " + offset.message());
  info.type = static_cast<std::uint32_t>(type.value());
  info.relative_offset = offset.value();
  info.entry.dtype = ggml_type_name(info.type);
  return info;
}

// Byte size from the block layout; the row length must hold whole blocks.
Status size_tensor(TensorInfo& info) {
  std::optional<GgmlType> type = find_ggml_type(info.type);
  if (!type) return Status::ok();  // an unknown type has no known size: no bytes, no data range
  std::string where = "tensor " + json_quoted(info.entry.name);
  std::uint64_t row = info.entry.shape.empty() ? 1 : info.entry.shape.front();
  if (row % type->block_elements != 0) {
    return fail(where + ": row length " + std::to_string(row) + " is not a multiple of the " + std::string(type->name) +
                " block size " + std::to_string(type->block_elements));
  }
  std::optional<std::uint64_t> bytes = checked_multiply(info.entry.numel / type->block_elements, type->block_bytes);
  if (!bytes) return fail(where + ": byte size overflows 64 bits");
  info.entry.bytes = *bytes;
  return Status::ok();
}

// Each tensor aligned, inside the data section, and no two overlapping.
Status place_tensors(std::vector<TensorInfo>& infos, const std::string& path, std::uint64_t data_start,
                     std::uint64_t file_size, std::uint64_t alignment) {
  std::uint64_t data_size = data_start <= file_size ? file_size - data_start : 0;
  for (TensorInfo& info : infos) {
    std::string where = "tensor " + json_quoted(info.entry.name);
    if (info.relative_offset % alignment != 0) {
      return fail(where + ": offset " + std::to_string(info.relative_offset) + " is not a multiple of the alignment " +
                  std::to_string(alignment));
    }
    bool known = find_ggml_type(info.type).has_value();
    if (info.relative_offset > data_size || (known && info.entry.bytes > data_size - info.relative_offset)) {
      return fail(where + ": data at offset " + std::to_string(info.relative_offset) + " (" +
                  std::to_string(info.entry.bytes) + " bytes) runs past the end of the " + std::to_string(data_size) +
                  "-byte data section");
    }
    info.entry.offset = data_start + info.relative_offset;
    if (known) info.entry.data = TensorBytes{path, data_start + info.relative_offset, info.entry.bytes};
  }
  std::vector<const TensorInfo*> by_offset;
  for (const TensorInfo& info : infos) {
    if (info.entry.bytes > 0) by_offset.push_back(&info);
  }
  std::stable_sort(by_offset.begin(), by_offset.end(),
                   [](const TensorInfo* a, const TensorInfo* b) { return a->relative_offset < b->relative_offset; });
  for (std::size_t i = 1; i < by_offset.size(); ++i) {
    const TensorInfo& previous = *by_offset[i - 1];
    if (by_offset[i]->relative_offset < previous.relative_offset + previous.entry.bytes) {
      return fail("tensor " + json_quoted(by_offset[i]->entry.name) + " overlaps tensor " + json_quoted(previous.entry.name));
    }
  }
  return Status::ok();
}

Result<GgufSizes> read_version(GgufCursor& cursor) {
  Result<std::string_view> magic = cursor.take(4);
  if (!magic.is_ok() || magic.value() != "GGUF") return fail("missing the GGUF magic");
  Result<std::uint64_t> version = cursor.read_unsigned(4);
  if (!version.is_ok()) return fail("reading the version: " + version.message());
  std::uint64_t v = version.value();
  if (v >= 1 && v <= 3) return GgufSizes{v == 1 ? 4 : 8};
  if (v == 0x01000000 || v == 0x02000000 || v == 0x03000000) return fail("big-endian GGUF files are not supported");
  return fail("unsupported GGUF version " + std::to_string(v));
}

Result<TensorTable> read_table(GgufCursor& cursor, const std::string& path) {
  Result<GgufSizes> sizes = read_version(cursor);
  if (!sizes.is_ok()) return sizes.error();
  Result<std::uint64_t> tensor_count = read_header_count(cursor, sizes.value(), "tensor count");
  if (!tensor_count.is_ok()) return tensor_count.error();
  Result<std::uint64_t> kv_count = read_header_count(cursor, sizes.value(), "metadata count");
  if (!kv_count.is_ok()) return kv_count.error();

  TensorTable table;
  table.path = path;
  table.format = "gguf";
  table.dims_innermost_first = true;
  std::uint64_t alignment = kDefaultAlignment;
  Status metadata = read_metadata(cursor, sizes.value(), kv_count.value(), table, alignment);
  if (!metadata.is_ok()) return metadata.error();

  // A tensor info takes at least a name length, a dimension count, a type and an offset.
  std::uint64_t least_info = static_cast<std::uint64_t>(sizes.value().width) + 16;
  if (checked_multiply(tensor_count.value(), least_info).value_or(UINT64_MAX) > cursor.bytes_left()) {
    return fail(std::to_string(tensor_count.value()) + " tensor infos cannot fit in the file");
  }
  std::vector<TensorInfo> infos;
  std::set<std::string> names;
  for (std::uint64_t i = 0; i < tensor_count.value(); ++i) {
    Result<TensorInfo> info = read_tensor_info(cursor, sizes.value());
    if (!info.is_ok()) return info.error();
    if (!names.insert(info.value().entry.name).second) return fail("duplicate tensor " + json_quoted(info.value().entry.name));
    Status sized = size_tensor(info.value());
    if (!sized.is_ok()) return sized.error();
    infos.push_back(info.take());
  }
  std::uint64_t end = cursor.position();
  std::uint64_t data_start = end + (alignment - end % alignment) % alignment;
  Status placed = place_tensors(infos, path, data_start, cursor.size(), alignment);
  if (!placed.is_ok()) return placed.error();
  for (TensorInfo& info : infos) table.tensors.push_back(std::move(info.entry));
  return table;
}

}  // namespace

namespace {

Result<TensorTable> read_from(std::unique_ptr<PositionedFile> file, const std::string& path) {
  GgufCursor cursor(std::move(file));
  Result<TensorTable> table = read_table(cursor, path);
  if (!table.is_ok()) return fail("invalid GGUF file " + path + ": " + table.message());
  return table;
}

}  // namespace

Result<TensorTable> read_gguf_table(const std::string& path) {
  Result<std::unique_ptr<PositionedFile>> file = PositionedFile::open(path);
  if (!file.is_ok()) return file.error();
  return read_from(file.take(), path);
}

Result<TensorTable> read_gguf_bytes(std::string_view bytes, const std::string& name) {
  return read_from(std::make_unique<PositionedFile>(std::string(bytes)), name);
}

}  // namespace tarnwick
