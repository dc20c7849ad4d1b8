#include "tables/content_hashing.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <string>

#include "base/parallel.h"
#include "tables/content_hash.h"
#include "tables/mapped_file.h"

namespace tarnwick {

namespace {

// Hashes each tensor's range on two threads when there is enough to share: tensor bytes are
// most of a checkpoint, and the hash, not the page cache, is then the limit.
void hash_ranges(std::string_view bytes, const std::vector<TensorEntry*>& tensors, bool share = true) {
  constexpr std::uint64_t kWorthAThread = 64u << 20;
  std::uint64_t total = 0;
  for (const TensorEntry* tensor : tensors) total += tensor->data->length;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < tensors.size(); i = next++) {
      const TensorBytes& range = *tensors[i]->data;
      tensors[i]->content_hash = xxh3_64(bytes.substr(range.offset, range.length));
    }
  };
  if (!share || total < kWorthAThread) {
    work();
    return;
  }
  ParallelTask helper(work);
  work();
  helper.join();
}

}  // namespace

Result<std::uint64_t> hash_files_and_tensors(const std::vector<std::string>& files, TensorTable& table) {
  std::map<std::string, std::vector<TensorEntry*>> by_file;
  for (TensorEntry& tensor : table.tensors) {
    if (tensor.data) by_file[tensor.data->file].push_back(&tensor);
  }
  Xxh3Stream whole;
  for (const std::string& path : files) {
    std::vector<TensorEntry*> tensors = std::move(by_file[path]);
    by_file.erase(path);
    MappedFile file;
    Status opened = file.open(path);
    if (!opened.is_ok()) return opened.error();
    for (const TensorEntry* tensor : tensors) {
      Result<std::string_view> range = file.range(path, tensor->data->offset, tensor->data->length);
      if (!range.is_ok()) return range.error();
    }
    // The file's bytes are hashed on a second core while this one hashes its tensors.
    ParallelTask<void> whole_file([&] { whole.update(file.bytes()); });
    hash_ranges(file.bytes(), tensors, /*share=*/false);
    whole_file.join();
  }
  if (!by_file.empty()) return fail("tensor data in " + by_file.begin()->first + ", which is not a file of the checkpoint");
  return whole.digest();
}

Status fill_content_hashes(TensorTable& table, const std::vector<bool>& selected) {
  std::map<std::string, std::vector<TensorEntry*>> by_file;
  for (std::size_t i = 0; i < table.tensors.size(); ++i) {
    TensorEntry& tensor = table.tensors[i];
    if (!selected.empty() && !selected[i]) continue;
    if (tensor.content_hash || !tensor.data) continue;
    by_file[tensor.data->file].push_back(&tensor);
  }
  for (auto& [path, tensors] : by_file) {
    std::stable_sort(tensors.begin(), tensors.end(),
                     [](const TensorEntry* a, const TensorEntry* b) { return a->data->offset < b->data->offset; });
    MappedFile file;
    Status opened = file.open(path);
    if (!opened.is_ok()) return opened;
    for (TensorEntry* tensor : tensors) {
      Result<std::string_view> bytes = file.range(path, tensor->data->offset, tensor->data->length);
      if (!bytes.is_ok()) return bytes.error();
      tensor->content_hash = xxh3_64(bytes.value());
    }
  }
  return Status::ok();
}

}  // namespace tarnwick
