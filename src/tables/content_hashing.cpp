#include "tables/content_hashing.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string>

#include "main/file_read.h"
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

// Hashes one file front to back in chunks small enough to stay in cache: each chunk feeds the
// whole-file hash and then the tensors it holds, so every byte comes from the disk once.
Status hash_file_with_tensors(const std::string& path, std::vector<TensorEntry*>& tensors, Xxh3Stream& whole) {
  constexpr std::uint64_t kChunk = 4u << 20;
  MappedFile file;
  Status opened = file.open(path);
  if (!opened.is_ok()) return opened;
  std::string_view bytes = file.bytes();
  for (const TensorEntry* tensor : tensors) {
    if (Result<std::string_view> range = file.range(path, tensor->data->offset, tensor->data->length); !range.is_ok()) {
      return range.error();
    }
  }
  std::stable_sort(tensors.begin(), tensors.end(),
                   [](const TensorEntry* a, const TensorEntry* b) { return a->data->offset < b->data->offset; });
  struct Open {
    TensorEntry* tensor;
    std::unique_ptr<Xxh3Stream> stream;
  };
  std::vector<Open> open;  // tensors that started in an earlier chunk and end in a later one
  std::size_t next = 0;
  auto feed = [&](std::uint64_t begin, std::uint64_t end) {
    whole.update(bytes.substr(begin, end - begin));
    for (std::size_t i = 0; i < open.size();) {
      const TensorBytes& range = *open[i].tensor->data;
      std::uint64_t stop = std::min(end, range.offset + range.length);
      open[i].stream->update(bytes.substr(begin, stop - begin));
      if (stop == range.offset + range.length) {
        open[i].tensor->content_hash = open[i].stream->digest();
        open[i] = std::move(open.back());
        open.pop_back();
      } else {
        ++i;
      }
    }
    for (; next < tensors.size() && tensors[next]->data->offset < end; ++next) {
      TensorEntry& tensor = *tensors[next];
      const TensorBytes& range = *tensor.data;
      if (range.length <= end - range.offset) {
        tensor.content_hash = xxh3_64(bytes.substr(range.offset, range.length));
      } else {
        open.push_back({&tensor, std::make_unique<Xxh3Stream>()});
        open.back().stream->update(bytes.substr(range.offset, end - range.offset));
      }
    }
  };
  for (std::uint64_t begin = 0; begin < bytes.size(); begin += kChunk) {
    feed(begin, std::min<std::uint64_t>(bytes.size(), begin + kChunk));
  }
  // Empty tensors at the very end of the file (or in an empty file) start where nothing is left.
  for (; next < tensors.size(); ++next) tensors[next]->content_hash = xxh3_64({});
  return Status::ok();
}

}  // namespace

Result<std::uint64_t> hash_files_and_tensors(const std::vector<std::string>& files, TensorTable& table) {
  std::map<std::string, std::vector<TensorEntry*>> by_file;
  for (TensorEntry& tensor : table.tensors) {
    if (tensor.data && !tensor.content_hash) by_file[tensor.data->file].push_back(&tensor);
  }
  Xxh3Stream whole;
  for (const std::string& path : files) {
    std::vector<TensorEntry*> tensors = std::move(by_file[path]);
    by_file.erase(path);
    Status hashed = hash_file_with_tensors(path, tensors, whole);
    if (!hashed.is_ok()) return hashed.error();
  }
  // Tensors in a file outside `files` (there are none when `files` lists the checkpoint).
  for (auto& [path, tensors] : by_file) {
    Xxh3Stream unused;
    Status hashed = hash_file_with_tensors(path, tensors, unused);
    if (!hashed.is_ok()) return hashed.error();
  }
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
