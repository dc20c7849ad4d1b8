#include "tables/content_hashing.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <map>
#include <string>

#include "base/file_read.h"
#include "base/parallel.h"
#include "tables/content_hash.h"

namespace tarnwick {

namespace {

// A whole file mapped read-only. Hashing straight from the page cache saves the copy that
// reads into a buffer would make, which is most of the cost besides the hash itself.
class MappedFile {
 public:
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  Status open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("open " + path + ": " + os_error_text(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      int error = errno;
      ::close(fd);
      return fail("stat " + path + ": " + os_error_text(error));
    }
    size_ = static_cast<std::size_t>(info.st_size);
    if (size_ > 0) {
      void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      int error = errno;
      ::close(fd);
      if (data == MAP_FAILED) return fail("map " + path + ": " + os_error_text(error));
      data_ = data;
      ::madvise(data_, size_, MADV_SEQUENTIAL);
    } else {
      ::close(fd);
    }
    return Status::ok();
  }

  // The bytes of a range the readers checked against the file's size; a file that shrank
  // since then fails here rather than hashing part of a tensor.
  std::string_view bytes() const { return {static_cast<const char*>(data_), size_}; }

  Result<std::string_view> range(const std::string& path, std::uint64_t offset, std::uint64_t length) const {
    if (offset > size_ || length > size_ - offset) {
      return fail("read " + path + ": the file ends before the tensor at offset " + std::to_string(offset));
    }
    return std::string_view(static_cast<const char*>(data_) + offset, static_cast<std::size_t>(length));
  }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

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
