#include <algorithm>
#include <unordered_map>

#include "base/checked_math.h"
#include "base/format.h"
#include "base/text.h"
#include "base/positioned_file.h"
#include "containers/zip_directory.h"
#include "pt/pytorch_summary.h"
#include "pt/pytorch_tensors.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kStorageSampleBytes = 1048576;

std::string le64(std::uint64_t value) {
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

Result<std::string> read_entry_data(const PositionedFile& file, const ZipEntry& entry, std::uint64_t length) {
  Result<std::uint64_t> position = zip_data_position(file, entry.local_header_offset);
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
Status hash_storage_sample(const PositionedFile& file, const ZipEntry& entry, ArchiveContents& contents) {
  if (entry.uncompressed_size == 0) return Status::ok();
  if (entry.method != 0) {
    contents.learned_state.update(le64(entry.crc32).substr(0, 4));
    return Status::ok();
  }
  Result<std::string> sample = read_entry_data(file, entry, std::min(entry.uncompressed_size, kStorageSampleBytes));
  if (!sample.is_ok()) return sample.error();
  contents.learned_state.update(sample.value());
  return Status::ok();
}

Status read_entry(const PositionedFile& file, const std::string& path, const ZipEntry& entry,
                  ArchiveContents& contents) {
  if (is_pickle_entry(entry.name) && entry.method != 0) {
    return fail(path + ": the pickle entry `" + entry.name + "` is compressed (zip method " +
                std::to_string(entry.method) + "); only stored entries can be read");
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
std::uint64_t bytes_taken(const ZipEntry& entry) {
  if (entry.method != 0) return 0;
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

// Real archives store every entry in its own stretch of the file. A directory whose entries
// share data would let a small file claim (and make the reader sample) the same bytes over
// and over, so entries whose header-to-data spans overlap are refused. Only entries whose data
// is read are placed; the walk stops at the first one whose data does not fit in the file,
// leaving that entry's read to report the error as before.
Status refuse_overlapping_entries(const PositionedFile& file, const std::string& path,
                                  const std::vector<ZipEntry>& entries) {
  auto refuse = [&](std::size_t first, std::size_t second) {
    return fail(path + ": zip entries `" + escape_control(entries[std::min(first, second)].name) + "` and `" +
                escape_control(entries[std::max(first, second)].name) + "` overlap in the file");
  };
  std::vector<EntrySpan> spans;
  std::unordered_map<std::uint64_t, std::size_t> by_header;  // local header offset -> entry
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& entry = entries[i];
    std::uint64_t taken = bytes_taken(entry);
    if (taken == 0 && !is_pickle_entry(entry.name) && !is_version_entry(entry.name)) continue;
    // Two entries on one local header overlap whatever their sizes: found without reading it again.
    auto [seen, fresh] = by_header.emplace(entry.local_header_offset, i);
    if (!fresh) return refuse(seen->second, i);
    Result<std::uint64_t> position = zip_data_position(file, entry.local_header_offset);
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
  Result<std::vector<ZipEntry>> entries = read_zip_directory(file, path);
  if (!entries.is_ok()) return entries.error();

  Status placed = refuse_overlapping_entries(file, path, entries.value());
  if (!placed.is_ok()) return placed.error();

  ArchiveContents contents;
  for (const ZipEntry& entry : entries.value()) {
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

// A tensor's elements count once per tensor, as torch's numel() would; the table's names are
// the checkpoint's key paths, so the `_metadata` module names a scan also finds are not counted.
void take_exact_figures(PyTorchSummary& summary, const std::string& path, const Result<TensorTable>& table) {
  if (!table.is_ok()) {
    std::string_view reason = table.message();
    if (reason.starts_with(path + ": ")) reason.remove_prefix(path.size() + 2);
    summary.estimate_notes.push_back(
        "Parameter count and names are estimated from the pickle bytes; its tensors could not be decoded (" +
        std::string(reason) + ").");
    return;
  }
  std::uint64_t parameters = 0;
  std::vector<std::string> names;
  for (const TensorEntry& tensor : table.value().tensors) {
    parameters = checked_add(parameters, tensor.numel).value_or(UINT64_MAX);
    names.push_back(tensor.name);
  }
  summary.estimated_parameter_count = parameters;
  summary.param_names = std::move(names);
  if (!summary.is_zip) {
    summary.tensor_count = table.value().storage_count.value_or(0);
    summary.total_parameter_bytes = table.value().storage_bytes.value_or(0);
  }
}

}  // namespace

Result<PyTorchSummary> scan_pytorch_summary(const std::string& path) {
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

Result<PyTorchSummary> read_pytorch_summary(const std::string& path) {
  Result<PyTorchSummary> summary = scan_pytorch_summary(path);
  if (!summary.is_ok()) return summary;
  bool cut_short = false;
  Result<TensorTable> table = read_pytorch_tensor_table(path, cut_short);
  if (!table.is_ok() && cut_short) return table.error();
  take_exact_figures(summary.value(), path, table);
  return summary;
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
  if (!summary.estimate_notes.empty()) record["estimate_notes"] = summary.estimate_notes;
  return record;
}

}  // namespace tarnwick
