#include "tables/content_hashing.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
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

}  // namespace

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
