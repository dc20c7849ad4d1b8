#include "tables/tensor_file_summary.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/positioned_file.h"
#include "tables/content_hash.h"
#include "tables/content_hashing.h"
#include "tables/tensor_contents_report.h"

namespace tarnwick {

namespace {

// The table's own file (a single file or the index), then every other file holding tensors.
std::vector<std::string> checkpoint_files(const TensorTable& table) {
  std::vector<std::string> files{table.path};
  for (const TensorEntry& tensor : table.tensors) {
    if (tensor.data && std::find(files.begin(), files.end(), tensor.data->file) == files.end()) {
      files.push_back(tensor.data->file);
    }
  }
  return files;
}

Result<std::uint64_t> total_file_size(const std::vector<std::string>& files) {
  std::uint64_t total = 0;
  for (const std::string& file : files) {
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error) return fail("stat " + file + ": " + error.message());
    total += size;
  }
  return total;
}

std::vector<DtypeShare> dtype_mix(const std::vector<TensorEntry>& tensors) {
  std::map<std::string, DtypeShare> by_dtype;
  for (const TensorEntry& tensor : tensors) {
    DtypeShare& share = by_dtype[tensor.dtype];
    share.dtype = tensor.dtype;
    ++share.tensors;
    share.parameters += tensor.numel;
    share.bytes += tensor.bytes;
  }
  std::vector<DtypeShare> mix;
  for (auto& [dtype, share] : by_dtype) mix.push_back(std::move(share));
  std::stable_sort(mix.begin(), mix.end(), [](const DtypeShare& a, const DtypeShare& b) {
    return a.bytes != b.bytes ? a.bytes > b.bytes : a.tensors > b.tensors;
  });
  return mix;
}

void put_u64(Xxh3Stream& stream, std::uint64_t value) {
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  stream.update({bytes, 8});
}

void put_text(Xxh3Stream& stream, std::string_view text) {
  put_u64(stream, text.size());
  stream.update(text);
}

// Names, dtypes, shapes and the bytes of every tensor, taken in name order so that the same
// tensors laid out differently in the file give the same fingerprint.
std::uint64_t learned_state_fingerprint(const std::vector<TensorEntry>& tensors) {
  std::vector<const TensorEntry*> by_name;
  for (const TensorEntry& tensor : tensors) by_name.push_back(&tensor);
  std::sort(by_name.begin(), by_name.end(), [](const TensorEntry* a, const TensorEntry* b) { return a->name < b->name; });
  Xxh3Stream stream;
  for (const TensorEntry* tensor : by_name) {
    put_text(stream, tensor->name);
    put_text(stream, tensor->dtype);
    put_u64(stream, tensor->shape.size());
    for (std::uint64_t dim : tensor->shape) put_u64(stream, dim);
    put_u64(stream, tensor->content_hash ? 1 : 0);
    put_u64(stream, tensor->content_hash.value_or(0));
  }
  return stream.digest();
}

// GGUF: over the stored key/value section, one hash per stored value. safetensors: over the
// metadata as canonical JSON (its values are plain strings, so nothing is lost).
Status fingerprint_metadata(const TensorTable& table, TensorFileSummary& summary) {
  if (!table.metadata_bytes) {
    std::string canonical = table.metadata.dump(-1, ' ', false, Json::error_handler_t::replace);
    summary.metadata_fingerprint = xxh3_64(canonical);
    for (const auto& [key, value] : table.metadata.items()) {
      summary.metadata_value_hashes[key] = xxh3_64(value.dump(-1, ' ', false, Json::error_handler_t::replace));
    }
    return Status::ok();
  }
  const TensorBytes& section = *table.metadata_bytes;
  Result<std::unique_ptr<PositionedFile>> file = PositionedFile::open(section.file);
  if (!file.is_ok()) return file.error();
  Result<std::string> bytes = file.value()->read_at(section.offset, section.length);
  if (!bytes.is_ok()) return fail("read " + section.file + ": " + bytes.message());
  std::string_view stored = bytes.value();
  summary.metadata_fingerprint = xxh3_64(stored);
  for (const auto& [key, range] : table.metadata_value_bytes) {
    summary.metadata_value_hashes[key] = xxh3_64(stored.substr(range.offset - section.offset, range.length));
  }
  return Status::ok();
}

void fingerprint_config(Json config, TensorFileSummary& summary) {
  if (!config.is_object()) return;
  for (const auto& [key, value] : config.items()) {
    summary.config_value_hashes[key] = xxh3_64(value.dump(-1, ' ', false, Json::error_handler_t::replace));
  }
  summary.config = std::move(config);
}

std::string layout_text(const TensorTable& table, const std::vector<std::string>& files) {
  if (table.format == "gguf") return "single file";
  if (files.size() > 1 || table.path.ends_with(".json")) {
    std::size_t shards = files.size() - 1;
    return "sharded, " + std::to_string(shards) + (shards == 1 ? " shard" : " shards");
  }
  return "single file";
}


}  // namespace

Result<TensorFileSummary> read_tensor_file_summary(const std::string& path, const TensorFileFormat& format) {
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    return fail("read " + path + ": a safetensors or GGUF checkpoint is read by position, so it must be a file or a directory");
  }
  Result<TensorTable> read = format.read_table(path);
  if (!read.is_ok()) return read.error();
  TensorTable& table = read.value();
  Result<TensorTotals> totals = tensor_totals(table);
  if (!totals.is_ok()) return totals.error();

  TensorFileSummary summary;
  summary.format = &format;
  summary.path = path;
  summary.files = checkpoint_files(table);
  summary.layout = layout_text(table, summary.files);
  Result<std::uint64_t> size = total_file_size(summary.files);
  if (!size.is_ok()) return size.error();
  summary.file_size_bytes = size.value();
  summary.parameter_count = totals.value().parameters;
  summary.tensor_bytes = totals.value().bytes;
  summary.dtype_mix = dtype_mix(table.tensors);
  if (!summary.dtype_mix.empty()) summary.dominant_dtype = summary.dtype_mix.front().dtype;
  summary.highlights = format.highlights(table.metadata);
  summary.architecture = infer_architecture(table, format.stated_architecture(table));

  Status metadata = fingerprint_metadata(table, summary);
  if (!metadata.is_ok()) return metadata.error();
  if (format.sidecar_config) fingerprint_config(format.sidecar_config(table), summary);
  Result<std::uint64_t> whole = hash_files_and_tensors(summary.files, table);
  if (!whole.is_ok()) return whole.error();
  summary.file_fingerprint = whole.value();
  summary.learned_state_fingerprint = learned_state_fingerprint(table.tensors);
  summary.metadata = std::move(table.metadata);
  summary.tensors = std::move(table.tensors);
  return summary;
}

Result<ArtifactPair<TensorFileSummary>> read_tensor_file_pair(const std::string& old_path, const std::string& new_path,
                                                             const TensorFileFormat& format) {
  Result<TensorFileSummary> old_model = read_tensor_file_summary(old_path, format);
  if (!old_model.is_ok()) return old_model.error();
  Result<TensorFileSummary> new_model = read_tensor_file_summary(new_path, format);
  if (!new_model.is_ok()) return new_model.error();
  return ArtifactPair<TensorFileSummary>{old_model.take(), new_model.take()};
}

TensorsByName tensors_by_name(const TensorFileSummary& summary) {
  TensorsByName tensors;
  for (const TensorEntry& tensor : summary.tensors) tensors.emplace(tensor.name, &tensor);
  return tensors;
}

std::vector<std::string> tensor_names(const TensorFileSummary& summary) {
  std::vector<std::string> names;
  names.reserve(summary.tensors.size());
  for (const TensorEntry& tensor : summary.tensors) names.push_back(tensor.name);
  return names;
}

OrderedJson tensor_file_summary_json(const TensorFileSummary& summary) {
  OrderedJson record;
  record["kind"] = std::string(summary.format->json_type) + "_summary";
  record["path"] = summary.path;
  record["layout"] = summary.layout;
  record["files"] = summary.files;
  record["file_size_bytes"] = summary.file_size_bytes;
  record["tensor_count"] = summary.tensors.size();
  record["parameter_count"] = summary.parameter_count;
  record["tensor_bytes"] = summary.tensor_bytes;
  record["dominant_dtype"] = ordered_optional(summary.dominant_dtype);
  OrderedJson mix = OrderedJson::array();
  for (const DtypeShare& share : summary.dtype_mix) {
    mix.push_back({{"dtype", share.dtype}, {"tensors", share.tensors}, {"parameters", share.parameters},
                   {"bytes", share.bytes}});
  }
  record["dtype_mix"] = std::move(mix);
  OrderedJson highlights = OrderedJson::object();
  for (const MetadataHighlight& highlight : summary.highlights) highlights[highlight.key] = OrderedJson(summary.metadata.at(highlight.key));
  record["metadata_highlights"] = std::move(highlights);
  record["architecture"] = architecture_json(summary.architecture);
  record["file_fingerprint"] = summary.file_fingerprint;
  record["metadata_fingerprint"] = summary.metadata_fingerprint;
  record["learned_state_fingerprint"] = summary.learned_state_fingerprint;
  record["tensor_names"] = tensor_names(summary);
  return record;
}

}  // namespace tarnwick
