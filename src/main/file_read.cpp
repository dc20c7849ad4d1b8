#include "main/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

namespace tarnwick {

std::string os_error_text(int error_number) { return std::strerror(error_number); }

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool is_stream(const struct stat& info) { return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode); }

// Heads already consumed from pipes by read_file_head, by path, until the reader takes them.
std::map<std::string, std::string>& consumed_heads() {
  static std::map<std::string, std::string> heads;
  return heads;
}

std::string take_consumed_head(const std::string& path) {
  auto found = consumed_heads().find(path);
  if (found == consumed_heads().end()) return {};
  std::string head = std::move(found->second);
  consumed_heads().erase(found);
  return head;
}

}  // namespace

Result<std::string> read_whole_file(const std::string& path) {
  auto read_error = [&](int error_number) { return fail("read " + path + ": " + os_error_text(error_number)); };
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return read_error(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return read_error(errno);
  if (S_ISDIR(info.st_mode)) return read_error(EISDIR);

  // Read straight into the final buffer; a file that grows meanwhile is read to its end.
  std::string contents(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0, '\0');
  std::size_t filled = 0;
  if (is_stream(info)) {
    contents = take_consumed_head(path);
    filled = contents.size();
  }
  while (true) {
    if (filled == contents.size()) contents.resize(contents.size() + (1 << 16));
    ssize_t got = ::read(file.get(), contents.data() + filled, contents.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return read_error(errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  contents.resize(filled);
  return contents;
}

std::string read_file_head(const std::string& path, std::size_t limit) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return {};
  std::string bytes(limit, '\0');
  std::size_t filled = 0;
  bool failed = false;
  while (filled < limit) {
    ssize_t got = ::read(file.get(), bytes.data() + filled, limit - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && is_stream(info)) consumed_heads()[path] += bytes;
  if (failed) return {};
  return bytes;
}

}  // namespace tarnwick
