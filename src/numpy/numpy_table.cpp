#include "numpy/numpy_table.h"

#include <algorithm>
#include <memory>

#include "base/positioned_file.h"
#include "containers/decompress.h"
#include "containers/npy_header.h"
#include "containers/zip_directory.h"
#include "numpy/npy_dtype.h"
#include "numpy/npy_elements.h"
#include "tables/content_hash.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kVersionAndLength = 12;  // magic, version, and a length of up to 4 bytes

// An array as it sits in the file: its header and where its data bytes lie. `bytes` is set
// when the member had to be inflated; the data then starts at header.data_offset within it.
struct StoredArray {
  NpyHeader header;
  std::uint64_t start = 0;      // where the array (its magic) starts in the file
  std::uint64_t available = 0;  // bytes from `start` to the end of the file or member
  std::optional<std::string> inflated;
};

Result<NpyHeader> header_in_file(const PositionedFile& file, std::uint64_t start, std::uint64_t available) {
  Result<std::string> head = file.read_at(start, std::min(available, kVersionAndLength));
  if (!head.is_ok()) return head.error();
  if (!is_npy(head.value()) || head.value().size() < 10) return read_npy_header(head.value());
  std::uint64_t width = static_cast<unsigned char>(head.value()[6]) == 1 ? 2 : 4;
  std::uint64_t length = 0;
  for (std::uint64_t i = 0; i < width && 8 + i < head.value().size(); ++i) {
    length |= static_cast<std::uint64_t>(static_cast<unsigned char>(head.value()[8 + i])) << (8 * i);
  }
  Result<std::string> whole = file.read_at(start, std::min(available, 8 + width + length));
  if (!whole.is_ok()) return whole.error();
  return read_npy_header(whole.value());
}

std::uint64_t element_count(const std::vector<std::uint64_t>& shape) {
  std::uint64_t count = 1;
  for (std::uint64_t dim : shape) count = dim != 0 && count > UINT64_MAX / dim ? UINT64_MAX : count * dim;
  return count;
}

Json header_metadata(const NpyHeader& header) {
  Json shape = Json::array();
  for (std::uint64_t dim : header.shape) shape.push_back(dim);
  return Json{{"descr", header.descr},
              {"fortran_order", header.fortran_order},
              {"shape", shape},
              {"version", std::to_string(header.major_version) + "." + std::to_string(header.minor_version)}};
}

// The tensor entry of one array, its content hash computed here when its bytes are not plain
// little-endian C-order elements in the file.
Result<TensorEntry> array_entry(const std::string& path, const std::string& name, const PositionedFile& file,
                                const StoredArray& array) {
  const NpyHeader& header = array.header;
  NpyDtype dtype = npy_dtype(header.descr);
  TensorEntry entry;
  entry.name = name;
  entry.dtype = dtype.name;
  entry.shape = header.shape;
  entry.numel = element_count(header.shape);
  std::uint64_t data_available = array.available - header.data_offset;
  if (!array.inflated) entry.offset = array.start + header.data_offset;
  if (dtype.name == "object") {
    entry.bytes = data_available;
    entry.unreadable_reason = "an object array: its elements are a pickle, which contents does not run (scan reads it)";
    return entry;
  }
  if (!dtype.itemsize) {
    entry.bytes = data_available;
    entry.unreadable_reason = "a structured dtype, whose element size is not read";
    return entry;
  }
  if (entry.numel != 0 && *dtype.itemsize > UINT64_MAX / entry.numel) {
    return fail(path + ": array '" + name + "' states more bytes than any file holds");
  }
  entry.bytes = entry.numel * *dtype.itemsize;
  if (entry.bytes > data_available) {
    return fail(path + ": array '" + name + "' needs " + std::to_string(entry.bytes) + " bytes of data, the file holds " +
                std::to_string(data_available) + ": it is cut short");
  }
  bool reordered = header.fortran_order && header.shape.size() > 1;
  bool swapped = dtype.big_endian && *dtype.itemsize > 1;
  if (!array.inflated && !reordered && !swapped) {
    entry.data = TensorBytes{path, *entry.offset, entry.bytes};
    return entry;
  }
  std::string bytes;
  if (array.inflated) {
    bytes = array.inflated->substr(header.data_offset, entry.bytes);
  } else {
    Result<std::string> read = file.read_at(*entry.offset, entry.bytes);
    if (!read.is_ok()) return read.error();
    bytes = read.take();
  }
  if (swapped) swap_to_little_endian(bytes, *dtype.itemsize, dtype.name.starts_with("complex"));
  if (reordered) bytes = fortran_to_c_order(bytes, header.shape, *dtype.itemsize);
  entry.content_hash = xxh3_64(bytes);
  entry.element_bytes = std::make_shared<const std::string>(std::move(bytes));
  return entry;
}

Result<TensorTable> read_npy(const std::string& path, const PositionedFile& file) {
  StoredArray array;
  array.available = file.size();
  Result<NpyHeader> header = header_in_file(file, 0, file.size());
  if (!header.is_ok()) return fail(path + ": " + header.message());
  array.header = header.take();
  Result<TensorEntry> entry = array_entry(path, "array", file, array);
  if (!entry.is_ok()) return entry.error();
  TensorTable table;
  table.path = path;
  table.format = "numpy";
  table.metadata["array"] = header_metadata(array.header);
  table.tensors.push_back(entry.take());
  return table;
}

// numpy.load opens a member as an array when it starts with the magic; it keys "w.npy" as "w".
std::string member_key(const std::string& member) {
  return member.ends_with(".npy") ? member.substr(0, member.size() - 4) : member;
}

Result<std::optional<StoredArray>> stored_array(const std::string& path, const PositionedFile& file,
                                                const ZipEntry& entry, std::uint64_t& budget) {
  Result<std::uint64_t> start = zip_data_position(file, entry.local_header_offset);
  if (!start.is_ok()) return start.error();
  StoredArray array;
  array.start = start.value();
  if (entry.method == 0) {
    if (entry.compressed_size != entry.uncompressed_size) return fail(path + ": member " + entry.name + " states two sizes");
    if (start.value() > file.size() || entry.compressed_size > file.size() - start.value()) {
      return fail(path + ": member " + entry.name + " runs past the end of the file: it is cut short");
    }
    array.available = entry.compressed_size;
    Result<std::string> head = file.read_at(array.start, std::min<std::uint64_t>(array.available, kNpyMagic.size()));
    if (!head.is_ok()) return head.error();
    if (!is_npy(head.value())) return std::optional<StoredArray>();
    Result<NpyHeader> header = header_in_file(file, array.start, array.available);
    if (!header.is_ok()) return fail(path + ": member " + entry.name + ": " + header.message());
    array.header = header.take();
    return std::optional<StoredArray>(std::move(array));
  }
  Result<std::string> stored = file.read_at(array.start, entry.compressed_size);
  if (!stored.is_ok()) return fail(path + ": member " + entry.name + ": " + stored.message());
  std::uint64_t limit = std::min(entry.uncompressed_size, budget);
  Result<std::string> inflated = decompress_zip_entry(entry.method, stored.value(), entry.uncompressed_size, limit);
  if (!inflated.is_ok()) return fail(path + ": member " + entry.name + ": " + inflated.message());
  budget -= inflated.value().size();
  if (!is_npy(inflated.value())) return std::optional<StoredArray>();
  Result<NpyHeader> header = read_npy_header(inflated.value());
  if (!header.is_ok()) return fail(path + ": member " + entry.name + ": " + header.message());
  array.header = header.take();
  array.available = inflated.value().size();
  array.inflated = inflated.take();
  return std::optional<StoredArray>(std::move(array));
}

Result<TensorTable> read_npz(const std::string& path, const PositionedFile& file) {
  Result<std::vector<ZipEntry>> entries = read_zip_directory(file, path, ZipDirectoryRule::kLoader);
  if (!entries.is_ok()) return entries.error();
  TensorTable table;
  table.path = path;
  table.format = "numpy";
  std::uint64_t budget = decompression_budget(file.size());
  Json others = Json::array();
  for (const ZipEntry& entry : entries.value()) {
    Result<std::optional<StoredArray>> array = stored_array(path, file, entry, budget);
    if (!array.is_ok()) return array.error();
    if (!array.value()) {
      others.push_back(entry.name);
      continue;
    }
    std::string name = member_key(entry.name);
    Result<TensorEntry> tensor = array_entry(path, name, file, *array.value());
    if (!tensor.is_ok()) return tensor.error();
    table.metadata[name] = header_metadata(array.value()->header);
    table.tensors.push_back(tensor.take());
  }
  if (!others.empty()) table.metadata["members that are not arrays"] = std::move(others);
  return table;
}

}  // namespace

Result<TensorTable> read_numpy_table(const std::string& path) {
  Result<std::unique_ptr<PositionedFile>> file = PositionedFile::open(path);
  if (!file.is_ok()) return file.error();
  Result<std::string> head = file.value()->read_prefix(kNpyMagic.size());
  if (!head.is_ok()) return fail("read " + path + ": " + head.message());
  if (is_npy(head.value())) return read_npy(path, *file.value());
  return read_npz(path, *file.value());
}

}  // namespace tarnwick
