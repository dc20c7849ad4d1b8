#include "base/positioned_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "base/file_read.h"

namespace tarnwick {

PositionedFile::~PositionedFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::unique_ptr<PositionedFile>> PositionedFile::open(const std::string& path) {
  if (Status refused = refuse_special_file(path); !refused.is_ok()) return refused.error();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("open " + path + ": " + os_error_text(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    return fail("stat " + path + ": " + os_error_text(error));
  }
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    ::close(fd);
    Result<FileBytes> contents = read_whole_file(path);
    if (!contents.is_ok()) return contents.error();
    return std::make_unique<PositionedFile>(std::string(contents.value().view()));
  }
  return std::make_unique<PositionedFile>(fd, static_cast<std::uint64_t>(info.st_size));
}

Result<std::string> PositionedFile::read_at(std::uint64_t offset, std::uint64_t length) const {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return fail("seek: " + os_error_text(EINVAL));
  }
  if (offset > size_ || length > size_ - offset) return fail("read: failed to fill whole buffer");
  if (fd_ < 0) return std::string(view_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
  std::string bytes(static_cast<std::size_t>(length), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = ::pread(fd_, bytes.data() + filled, bytes.size() - filled, static_cast<off_t>(offset + filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail("read: " + os_error_text(errno));
    if (got == 0) return fail("read: failed to fill whole buffer");
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

Result<std::string> PositionedFile::read_prefix(std::size_t length) const {
  if (fd_ < 0) return std::string(view_.substr(0, length));
  std::string bytes(length, '\0');
  while (true) {
    ssize_t got = ::pread(fd_, bytes.data(), length, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(os_error_text(errno));
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
  }
}

}  // namespace tarnwick
