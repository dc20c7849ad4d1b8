#include "tables/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_read.h"

namespace tarnwick {

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

Status MappedFile::open(const std::string& path) {
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

Result<std::string_view> MappedFile::range(const std::string& path, std::uint64_t offset, std::uint64_t length) const {
  if (offset > size_ || length > size_ - offset) {
    return fail("read " + path + ": the file ends before the tensor at offset " + std::to_string(offset));
  }
  return std::string_view(static_cast<const char*>(data_) + offset, static_cast<std::size_t>(length));
}

}  // namespace tarnwick
