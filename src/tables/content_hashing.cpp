#include "tables/content_hashing.h"

#include <fcntl.h>
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

constexpr std::size_t kChunkBytes = 8 << 20;

// Serves byte ranges in increasing order from one file through a reused chunk buffer.
class SequentialReader {
 public:
  SequentialReader(int fd, std::string path) : fd_(fd), path_(std::move(path)), buffer_(kChunkBytes) {}
  ~SequentialReader() { ::close(fd_); }
  SequentialReader(const SequentialReader&) = delete;
  SequentialReader& operator=(const SequentialReader&) = delete;

  Result<std::uint64_t> hash_range(std::uint64_t offset, std::uint64_t length) {
    Xxh3Stream hash;
    while (length > 0) {
      if (offset < start_ || offset >= start_ + filled_) {
        Status status = fill(offset);
        if (!status.is_ok()) return status.error();
      }
      std::uint64_t in_buffer = std::min<std::uint64_t>(length, start_ + filled_ - offset);
      hash.update(std::string_view(buffer_.data() + (offset - start_), static_cast<std::size_t>(in_buffer)));
      offset += in_buffer;
      length -= in_buffer;
    }
    return hash.digest();
  }

 private:
  // Reads a whole chunk at `offset`, so that the small tensors after it share one read; a file
  // that ends before the range fails rather than hashing part of it.
  Status fill(std::uint64_t offset) {
    const std::size_t target = kChunkBytes;
    std::size_t got_total = 0;
    while (got_total < target) {
      ssize_t got = ::pread(fd_, buffer_.data() + got_total, target - got_total, static_cast<off_t>(offset + got_total));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return fail("read " + path_ + ": " + os_error_text(errno));
      if (got == 0) break;
      got_total += static_cast<std::size_t>(got);
    }
    if (got_total == 0) return fail("read " + path_ + ": the file ends before offset " + std::to_string(offset));
    start_ = offset;
    filled_ = got_total;
    return Status::ok();
  }

  int fd_;
  std::string path_;
  std::vector<char> buffer_;
  std::uint64_t start_ = 0;
  std::uint64_t filled_ = 0;
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
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("open " + path + ": " + os_error_text(errno));
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    SequentialReader reader(fd, path);
    for (TensorEntry* tensor : tensors) {
      Result<std::uint64_t> hash = reader.hash_range(tensor->data->offset, tensor->data->length);
      if (!hash.is_ok()) return hash.error();
      tensor->content_hash = hash.value();
    }
  }
  return Status::ok();
}

}  // namespace tarnwick
