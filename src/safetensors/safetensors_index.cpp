#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "base/json_text.h"
#include "base/positioned_file.h"
#include "safetensors/safetensors_reader.h"
#include "tables/strict_json.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIndexSuffix = ".safetensors.index.json";
constexpr std::string_view kFileSuffix = ".safetensors";


bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A shard is a plain file name in the index's own directory.
bool is_plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find("..") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// The checkpoint a directory holds: its one index, or else its one safetensors file.
Result<std::string> find_checkpoint_in_directory(const std::string& directory) {
  std::error_code error;
  std::vector<std::string> indexes, files;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (ends_with(name, kIndexSuffix)) indexes.push_back(entry.path().string());
    if (ends_with(name, kFileSuffix)) files.push_back(entry.path().string());
  }
  if (error) return fail("read directory " + directory + ": " + error.message());
  if (indexes.size() > 1) return fail("several *.safetensors.index.json in directory " + directory);
  if (indexes.size() == 1) return indexes.front();
  if (files.size() == 1) return files.front();
  if (files.empty()) return fail("no *.safetensors.index.json or *.safetensors file in directory " + directory);
  return fail("several *.safetensors files and no *.safetensors.index.json in directory " + directory);
}

struct ShardIndex {
  Json metadata = Json::object();
  std::map<std::string, std::set<std::string>> names_by_shard;  // shard file name -> tensor names
};

Result<ShardIndex> read_index(const std::string& path) {
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(path);
  if (!opened.is_ok()) return opened.error();
  if (opened.value()->size() > kSafetensorsHeaderCap) {
    return fail("index larger than " + std::to_string(kSafetensorsHeaderCap) + " bytes");
  }
  Result<std::string> text = opened.value()->read_at(0, opened.value()->size());
  if (!text.is_ok()) return fail("read: " + text.message());
  Result<OrderedJson> parsed = parse_strict_json(text.value());
  if (!parsed.is_ok()) return parsed.error();
  const OrderedJson& document = parsed.value();
  if (!document.is_object()) return fail("not a JSON object");

  ShardIndex index;
  if (document.contains("metadata")) {
    if (!document["metadata"].is_object()) return fail("metadata is not an object");
    index.metadata = Json(document["metadata"]);
  }
  if (!document.contains("weight_map") || !document["weight_map"].is_object()) {
    return fail("weight_map missing or not an object");
  }
  for (const auto& [name, shard] : document["weight_map"].items()) {
    if (!shard.is_string()) return fail("weight_map entry " + json_quoted(name) + " is not a file name");
    const std::string& file = shard.get_ref<const std::string&>();
    if (!is_plain_file_name(file)) {
      return fail("shard " + json_quoted(file) + " of tensor " + json_quoted(name) + " is not a plain file name beside the index");
    }
    index.names_by_shard[file].insert(name);
  }
  return index;
}

// Each shard must hold exactly the tensors the weight map assigns to it.
Status check_shard_names(const std::string& shard, const TensorTable& table, std::set<std::string> expected) {
  for (const TensorEntry& tensor : table.tensors) {
    if (expected.erase(tensor.name) == 0) {
      return fail("shard " + json_quoted(shard) + " holds tensor " + json_quoted(tensor.name) + " that the weight map does not list there");
    }
  }
  if (!expected.empty()) {
    return fail("tensor " + json_quoted(*expected.begin()) + " is missing from shard " + json_quoted(shard));
  }
  return Status::ok();
}

Result<TensorTable> read_sharded(const std::string& index_path) {
  Result<ShardIndex> index = read_index(index_path);
  if (!index.is_ok()) return fail("invalid safetensors index " + index_path + ": " + index.message());
  TensorTable table;
  table.path = index_path;
  table.format = "safetensors";
  table.metadata = index.value().metadata;
  fs::path directory = fs::path(index_path).parent_path();
  for (const auto& [shard, names] : index.value().names_by_shard) {
    Result<TensorTable> part = read_safetensors_file((directory / shard).string());
    if (!part.is_ok()) return part.error();
    Status matched = check_shard_names(shard, part.value(), names);
    if (!matched.is_ok()) return fail("invalid safetensors index " + index_path + ": " + matched.message());
    for (TensorEntry& tensor : part.value().tensors) table.tensors.push_back(std::move(tensor));
  }
  return table;
}

}  // namespace

bool directory_holds_safetensors(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error) && find_checkpoint_in_directory(path).is_ok();
}

Result<TensorTable> read_safetensors_table(const std::string& path) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    Result<std::string> found = find_checkpoint_in_directory(path);
    if (!found.is_ok()) return found.error();
    if (ends_with(found.value(), kIndexSuffix)) return read_sharded(found.value());
    return read_safetensors_file(found.value());
  }
  if (ends_with(path, kIndexSuffix)) return read_sharded(path);
  return read_safetensors_file(path);
}

}  // namespace tarnwick
