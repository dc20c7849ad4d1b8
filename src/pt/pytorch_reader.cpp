#include <algorithm>
#include <unordered_map>

#include "main/format.h"
#include "main/text.h"
#include "pt/positioned_file.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kEocdSearchBytes = 65557;  // 22-byte record plus the longest comment
constexpr std::uint64_t kStorageSampleBytes = 1048576;
constexpr std::uint32_t kZip32Max = 0xFFFFFFFF;

std::uint64_t read_le(std::string_view bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

std::string le64(std::uint64_t value) {
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

struct DirectoryLocation {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The 20-byte ZIP64 locator just before the EOCD record at `record_position`. Behind a comment
// of maximal length it lies before the searched tail, so it is read from the file then.
Result<std::string> zip64_locator(const PositionedFile& file, std::string_view tail, std::uint64_t tail_start,
                                  std::uint64_t record_position) {
  if (record_position - tail_start >= 20) {
    return std::string(tail.substr(static_cast<std::size_t>(record_position - tail_start) - 20, 20));
  }
  return file.read_at(record_position - 20, 20);
}

// Directory size and offset from the ZIP64 record, when a locator points at one.
Status apply_zip64_record(const PositionedFile& file, std::string_view locator, DirectoryLocation& location) {
  if (!locator.starts_with("PK\x06\x07")) return Status::ok();
  Result<std::string> record = file.read_at(read_le(locator, 8, 8), 56);
  if (!record.is_ok()) return record.error();
  if (record.value().starts_with("PK\x06\x06")) {
    location.size = read_le(record.value(), 40, 8);
    location.offset = read_le(record.value(), 48, 8);
  }
  return Status::ok();
}

// The end-of-central-directory record, searched backwards from the end of the tail; a hit
// too close to the end to hold its fields is passed over.
Result<DirectoryLocation> locate_directory(const PositionedFile& file, const std::string& path) {
  std::uint64_t tail_length = std::min<std::uint64_t>(file.size(), kEocdSearchBytes);
  std::uint64_t tail_start = file.size() - tail_length;
  Result<std::string> tail_read = file.read_at(tail_start, tail_length);
  if (!tail_read.is_ok()) return tail_read.error();
  std::string_view tail = tail_read.value();
  for (std::size_t at = tail.size() < 4 ? std::string_view::npos : tail.size() - 4; at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : at - 1) {
    if (tail.substr(at, 4) != "PK\x05\x06" || at + 20 > tail.size()) continue;
    DirectoryLocation location{read_le(tail, at + 16, 4), read_le(tail, at + 12, 4)};
    bool needs_zip64 = location.offset == kZip32Max || location.size == kZip32Max;
    std::uint64_t record_position = tail_start + at;
    if (!needs_zip64 || record_position < 20) return location;
    Result<std::string> locator = zip64_locator(file, tail, tail_start, record_position);
    if (!locator.is_ok()) return locator.error();
    Status applied = apply_zip64_record(file, locator.value(), location);
    if (!applied.is_ok()) return applied.error();
    return location;
  }
  return fail(path + ": no zip EOCD record");
}

struct DirectoryEntry {
  std::string name;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
  std::size_t total_length = 0;          // fixed part, name, extra and comment
  std::uint64_t compression_method = 0;  // 0: stored, the data is the bytes themselves
  std::uint32_t crc32 = 0;               // of the uncompressed data
};

// Replaces 0xFFFFFFFF sizes and offsets from the ZIP64 extra record (header id 1).
void apply_zip64_extra(std::string_view extra, std::uint64_t compressed_size, DirectoryEntry& entry) {
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    std::uint64_t id = read_le(extra, at, 2), size = read_le(extra, at + 2, 2);
    std::string_view data = extra.substr(at + 4, std::min<std::size_t>(size, extra.size() - at - 4));
    at += 4 + size;
    if (id != 1) continue;
    std::size_t cursor = 0;
    auto take = [&](std::uint64_t& value) {
      if (cursor + 8 <= data.size()) value = read_le(data, cursor, 8);
      cursor += 8;
    };
    if (entry.uncompressed_size == kZip32Max) take(entry.uncompressed_size);
    if (compressed_size == kZip32Max) take(entry.compressed_size);
    if (entry.local_header_offset == kZip32Max) take(entry.local_header_offset);
    return;
  }
}

// The entry at `at`, or nothing when its fixed part, name or extra field does not fit in D.
std::optional<DirectoryEntry> parse_entry(std::string_view directory, std::size_t at) {
  if (directory.size() < 46 || at > directory.size() - 46 || directory.substr(at, 4) != "PK\x01\x02") {
    return std::nullopt;
  }
  std::uint64_t compressed = read_le(directory, at + 20, 4);
  std::size_t name_length = read_le(directory, at + 28, 2), extra_length = read_le(directory, at + 30, 2),
              comment_length = read_le(directory, at + 32, 2);
  if (46 + name_length + extra_length > directory.size() - at) return std::nullopt;
  DirectoryEntry entry;
  entry.compressed_size = compressed;
  entry.compression_method = read_le(directory, at + 10, 2);
  entry.crc32 = static_cast<std::uint32_t>(read_le(directory, at + 16, 4));
  entry.uncompressed_size = read_le(directory, at + 24, 4);
  entry.local_header_offset = read_le(directory, at + 42, 4);
  entry.name = decode_utf8_lossy(directory.substr(at + 46, name_length));
  entry.total_length = 46 + name_length + extra_length + comment_length;
  if (entry.uncompressed_size == kZip32Max || entry.local_header_offset == kZip32Max) {
    apply_zip64_extra(directory.substr(at + 46 + name_length, extra_length), compressed, entry);
  }
  return entry;
}

Result<std::uint64_t> data_position(const PositionedFile& file, std::uint64_t local_header_offset) {
  Result<std::string> header = file.read_at(local_header_offset, 30);
  if (!header.is_ok()) return header.error();
  if (!header.value().starts_with("PK\x03\x04")) return fail("bad local header");
  return local_header_offset + 30 + read_le(header.value(), 26, 2) + read_le(header.value(), 28, 2);
}

Result<std::string> read_entry_data(const PositionedFile& file, const DirectoryEntry& entry, std::uint64_t length) {
  Result<std::uint64_t> position = data_position(file, entry.local_header_offset);
  if (!position.is_ok()) return position.error();
  return file.read_at(position.value(), length);
}

bool is_pickle_entry(const std::string& name) { return name.size() >= 8 && name.ends_with("data.pkl"); }

bool is_version_entry(const std::string& name) {
  return name == "version" || (name.size() >= 8 && name.ends_with("/version"));
}

bool is_storage_entry(const std::string& name) {
  if (name.find("/data/") == std::string::npos) return false;
  std::string_view last = std::string_view(name).substr(name.rfind('/') + 1);
  return !last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos;
}

struct ArchiveContents {
  std::optional<std::string> pickle;
  std::optional<std::string> version;
  std::uint64_t tensor_count = 0;
  std::uint64_t storage_bytes = 0;
  Fnv1a64 learned_state;
  Fnv1a64 structure;
};

// A compressed blob's bytes in the file are not its contents: its CRC-32 of the uncompressed
// data stands in for the sample.
Status hash_storage_sample(const PositionedFile& file, const DirectoryEntry& entry, ArchiveContents& contents) {
  if (entry.uncompressed_size == 0) return Status::ok();
  if (entry.compression_method != 0) {
    contents.learned_state.update(le64(entry.crc32).substr(0, 4));
    return Status::ok();
  }
  Result<std::string> sample = read_entry_data(file, entry, std::min(entry.uncompressed_size, kStorageSampleBytes));
  if (!sample.is_ok()) return sample.error();
  contents.learned_state.update(sample.value());
  return Status::ok();
}

Status read_entry(const PositionedFile& file, const std::string& path, const DirectoryEntry& entry,
                  ArchiveContents& contents) {
  if (is_pickle_entry(entry.name) && entry.compression_method != 0) {
    return fail(path + ": the pickle entry `" + entry.name + "` is compressed (zip method " +
                std::to_string(entry.compression_method) + "); only stored entries can be read");
  }
  if (is_pickle_entry(entry.name)) {
    Result<std::string> pickle = read_entry_data(file, entry, entry.uncompressed_size);
    if (!pickle.is_ok()) return pickle.error();
    contents.pickle = pickle.take();
  } else if (is_version_entry(entry.name)) {
    Result<std::string> version = read_entry_data(file, entry, std::min<std::uint64_t>(entry.uncompressed_size, 32));
    if (!version.is_ok()) return version.error();
    contents.version = std::string(trim(decode_utf8_lossy(version.value())));
  } else if (is_storage_entry(entry.name)) {
    ++contents.tensor_count;
    contents.storage_bytes += entry.uncompressed_size;
    Status sampled = hash_storage_sample(file, entry, contents);
    if (!sampled.is_ok()) return sampled;
    contents.learned_state.update(le64(entry.uncompressed_size));
  }
  contents.structure.update(entry.name);
  contents.structure.update(le64(entry.uncompressed_size));
  return Status::ok();
}

void fill_from_pickle(PyTorchSummary& summary, std::string_view pickle) {
  summary.param_names = scan_param_names(pickle);
  auto [dtype, element_size] = dominant_dtype(pickle);
  summary.dominant_dtype = std::move(dtype);
  summary.estimated_parameter_count = summary.total_parameter_bytes / element_size;
}

// How many bytes of an entry's data the reader takes; 0 for entries it only hashes and for
// compressed ones, whose data is never read.
std::uint64_t bytes_taken(const DirectoryEntry& entry) {
  if (entry.compression_method != 0) return 0;
  if (is_pickle_entry(entry.name)) return entry.uncompressed_size;
  if (is_version_entry(entry.name)) return std::min<std::uint64_t>(entry.uncompressed_size, 32);
  if (is_storage_entry(entry.name)) return std::min(entry.uncompressed_size, kStorageSampleBytes);
  return 0;
}

struct EntrySpan {
  std::uint64_t start = 0;  // the local header
  std::uint64_t end = 0;    // one past the last byte read or stored
  std::size_t entry = 0;
};

std::string entry_label(const std::string& name) {
  std::string label;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      label += "\\x";
      label += kHex[(c >> 4) & 0xF];
      label += kHex[c & 0xF];
    } else {
      label += c;
    }
  }
  return label;
}

// Real archives store every entry in its own stretch of the file. A directory whose entries
// share data would let a small file claim (and make the reader sample) the same bytes over
// and over, so entries whose header-to-data spans overlap are refused. Only entries whose data
// is read are placed; the walk stops at the first one whose data does not fit in the file,
// leaving that entry's read to report the error as before.
Status refuse_overlapping_entries(const PositionedFile& file, const std::string& path,
                                  const std::vector<DirectoryEntry>& entries) {
  auto refuse = [&](std::size_t first, std::size_t second) {
    return fail(path + ": zip entries `" + entry_label(entries[std::min(first, second)].name) + "` and `" +
                entry_label(entries[std::max(first, second)].name) + "` overlap in the file");
  };
  std::vector<EntrySpan> spans;
  std::unordered_map<std::uint64_t, std::size_t> by_header;  // local header offset -> entry
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DirectoryEntry& entry = entries[i];
    std::uint64_t taken = bytes_taken(entry);
    if (taken == 0 && !is_pickle_entry(entry.name) && !is_version_entry(entry.name)) continue;
    // Two entries on one local header overlap whatever their sizes: found without reading it again.
    auto [seen, fresh] = by_header.emplace(entry.local_header_offset, i);
    if (!fresh) return refuse(seen->second, i);
    Result<std::uint64_t> position = data_position(file, entry.local_header_offset);
    if (!position.is_ok()) break;  // the read itself reports the failure
    std::uint64_t end = position.value() + std::max(taken, entry.compressed_size);
    if (end < position.value() || end > file.size()) break;
    spans.push_back({entry.local_header_offset, std::max(end, entry.local_header_offset + 30), i});
  }
  std::sort(spans.begin(), spans.end(), [](const EntrySpan& a, const EntrySpan& b) {
    return a.start != b.start ? a.start < b.start : a.entry < b.entry;
  });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].start < spans[i - 1].end) return refuse(spans[i - 1].entry, spans[i].entry);
  }
  return Status::ok();
}

Result<PyTorchSummary> read_zip(const PositionedFile& file, const std::string& path, PyTorchSummary summary) {
  Result<DirectoryLocation> location = locate_directory(file, path);
  if (!location.is_ok()) return location.error();
  Result<std::string> directory = file.read_at(location.value().offset, location.value().size);
  if (!directory.is_ok()) return directory.error();

  std::vector<DirectoryEntry> entries;
  for (std::size_t at = 0; std::optional<DirectoryEntry> entry = parse_entry(directory.value(), at);) {
    at += entry->total_length;
    entries.push_back(std::move(*entry));
  }
  Status placed = refuse_overlapping_entries(file, path, entries);
  if (!placed.is_ok()) return placed.error();

  ArchiveContents contents;
  for (const DirectoryEntry& entry : entries) {
    Status status = read_entry(file, path, entry, contents);
    if (!status.is_ok()) return status.error();
  }
  if (!contents.pickle || contents.pickle->empty()) return fail(path + ": no data.pkl found inside the archive");

  summary.is_zip = true;
  summary.tensor_count = contents.tensor_count;
  summary.total_parameter_bytes = contents.storage_bytes;
  summary.torch_version = contents.version;
  fill_from_pickle(summary, *contents.pickle);
  Fnv1a64 file_hash;
  file_hash.update(*contents.pickle);
  file_hash.update(le64(contents.structure.digest()));
  summary.file_fingerprint = file_hash.digest();
  summary.learned_state_fingerprint = contents.learned_state.digest();
  return summary;
}

Result<PyTorchSummary> read_legacy(const PositionedFile& file, PyTorchSummary summary) {
  Result<std::string> whole = file.read_at(0, file.size());
  if (!whole.is_ok()) return whole.error();
  fill_from_pickle(summary, whole.value());
  summary.estimated_parameter_count = 0;
  summary.file_fingerprint = fnv1a64(whole.value());
  summary.learned_state_fingerprint = summary.file_fingerprint;
  return summary;
}

}  // namespace

Result<PyTorchSummary> read_pytorch_summary(const std::string& path) {
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(path);
  if (!opened.is_ok()) return opened.error();
  const PositionedFile& file = *opened.value();
  Result<std::string> head = file.read_prefix(4);
  if (!head.is_ok()) return fail("read " + path + ": " + head.message());

  PyTorchSummary summary;
  summary.path = last_path_component(path);
  summary.bytes = file.size();
  if (head.value() == "PK\x03\x04") return read_zip(file, path, std::move(summary));
  if (!head.value().empty() && head.value()[0] == '\x80') return read_legacy(file, std::move(summary));
  return fail(path + " does not look like a PyTorch file (no zip `PK` or pickle marker)");
}

OrderedJson pytorch_summary_json(const PyTorchSummary& summary) {
  OrderedJson record;
  record["path"] = summary.path;
  record["bytes"] = summary.bytes;
  record["is_zip"] = summary.is_zip;
  record["tensor_count"] = summary.tensor_count;
  record["total_parameter_bytes"] = summary.total_parameter_bytes;
  record["estimated_parameter_count"] = summary.estimated_parameter_count;
  record["dominant_dtype"] = ordered_optional(summary.dominant_dtype);
  record["param_names"] = summary.param_names;
  record["torch_version"] = ordered_optional(summary.torch_version);
  record["file_fingerprint"] = summary.file_fingerprint;
  record["learned_state_fingerprint"] = summary.learned_state_fingerprint;
  return record;
}

}  // namespace tarnwick
