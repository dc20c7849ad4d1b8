#include "base/file_read.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace tarnwick {

namespace {

// Our own pipe holds this much by default, more than a head is ever looked at.
constexpr std::size_t kPipeCopyCapacity = std::size_t{64} << 10;

}  // namespace

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

// A pipe handed over as a descriptor (`<(...)`, /dev/stdin) is reached through links that end in
// "pipe:[N]"; a FIFO with a name in a directory is not, and opening it waits for a writer.
bool names_its_fifo(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    char target[4096];
    ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
    if (length < 0) return true;
    std::string link(target, static_cast<std::size_t>(length));
    if (link.starts_with("pipe:[")) return false;
    if (!link.starts_with('/')) {
      std::size_t slash = current.find_last_of('/');
      link = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + link;
    }
    current = link;
  }
  return true;
}

}  // namespace

FileBytes::FileBytes(const void* mapping, std::size_t size)
    : mapping_(mapping), view_(static_cast<const char*>(mapping), size) {}

FileBytes::~FileBytes() { release(); }

FileBytes::FileBytes(FileBytes&& other) noexcept { *this = std::move(other); }

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this == &other) return *this;
  release();
  mapping_ = std::exchange(other.mapping_, nullptr);
  if (mapping_ != nullptr) {
    view_ = other.view_;
  } else {
    buffer_ = std::move(other.buffer_);
    view_ = buffer_;
  }
  other.buffer_.clear();
  other.view_ = {};
  return *this;
}

void FileBytes::release() {
  if (mapping_ != nullptr) ::munmap(const_cast<void*>(mapping_), view_.size());
  mapping_ = nullptr;
  view_ = {};
}

namespace {

// Reads to the end of a stream, refusing more than `limit` bytes. The bytes are gathered in
// blocks and joined once at the end, so a stream that is refused never held more than the limit
// and one that is read is never copied while growing.
Result<FileBytes> read_stream(int fd, const std::string& path, std::uint64_t limit) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  auto too_long = [&] {
    return fail("read " + path + ": more than " + std::to_string(limit >> 20) +
                " MiB from a file that is not a regular file");
  };
  std::vector<std::string> blocks;
  std::uint64_t total = 0;
  while (true) {
    if (blocks.empty() || blocks.back().size() >= kBlock) {
      blocks.emplace_back();
      blocks.back().reserve(kBlock);
    }
    std::string& block = blocks.back();
    std::size_t filled = block.size();
    block.resize(kBlock);
    ssize_t got = ::read(fd, block.data() + filled, kBlock - filled);
    block.resize(filled + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail("read " + path + ": " + os_error_text(errno));
    }
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
    if (total > limit) return too_long();
  }
  if (blocks.size() == 1) return FileBytes(std::move(blocks.front()));
  std::string contents;
  contents.reserve(static_cast<std::size_t>(total));
  for (std::string& block : blocks) {
    contents += block;
    std::string().swap(block);
  }
  return FileBytes(std::move(contents));
}

// One read sized from the metadata, for when a mapping is refused; a file that grew meanwhile
// is read to its end.
Result<FileBytes> read_sized(int fd, const std::string& path, std::size_t size) {
  std::string contents(size, '\0');
  std::size_t filled = 0;
  while (filled < contents.size()) {
    ssize_t got = ::read(fd, contents.data() + filled, contents.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail("read " + path + ": " + os_error_text(errno));
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  contents.resize(filled);
  if (filled < size) return FileBytes(std::move(contents));
  Result<FileBytes> rest = read_stream(fd, path, std::numeric_limits<std::uint64_t>::max() >> 1);
  if (!rest.is_ok()) return rest.error();
  if (rest.value().size() == 0) return FileBytes(std::move(contents));
  contents.append(rest.value().view());
  return FileBytes(std::move(contents));
}

}  // namespace

namespace {

// Why the file at `path` is not opened at all, or nothing: one stat, before any open.
std::optional<std::string> special_file_reason(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  if (S_ISFIFO(info.st_mode) && names_its_fifo(path)) return "a named pipe is not read (it would wait for a writer)";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device is not read";
  return std::nullopt;
}

}  // namespace

Status refuse_special_file(const std::string& path) {
  if (std::optional<std::string> reason = special_file_reason(path)) return fail("read " + path + ": " + *reason);
  return Status::ok();
}

Result<FileBytes> read_whole_file(const std::string& path, std::uint64_t stream_limit) {
  auto read_error = [&](int error_number) { return fail("read " + path + ": " + os_error_text(error_number)); };
  if (Status refused = refuse_special_file(path); !refused.is_ok()) return refused.error();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return read_error(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return read_error(errno);
  if (S_ISDIR(info.st_mode)) return read_error(EISDIR);
    if (!S_ISREG(info.st_mode)) return read_stream(file.get(), path, stream_limit);

  auto size = static_cast<std::size_t>(info.st_size);
  if (size == 0) return read_stream(file.get(), path, stream_limit);  // e.g. files under /proc
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
  if (mapping == MAP_FAILED) return read_sized(file.get(), path, size);
  ::madvise(mapping, size, MADV_SEQUENTIAL);
  return FileBytes(mapping, size);
}

namespace {

// Copies what a pipe holds, up to `limit` bytes, without taking it: tee(2) duplicates the pipe's
// buffer into a pipe of our own. The writer may still be filling it, so the copy is taken again
// until it holds `limit` bytes or the writer has gone; the reader that follows gets every byte.
std::string peek_pipe(int fd, std::size_t limit) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return {};
  FileDescriptor copy_read(ends[0]), copy_write(ends[1]);
  if (limit > kPipeCopyCapacity) return {};
  std::string head;
  while (head.size() < limit) {
    pollfd state{fd, POLLIN, 0};
    if (::poll(&state, 1, 0) < 0 && errno != EINTR) return head;
    bool writer_gone = (state.revents & (POLLHUP | POLLERR)) != 0;
    ssize_t copied = ::tee(fd, copy_write.get(), limit, SPLICE_F_NONBLOCK);
    if (copied < 0 && errno != EAGAIN && errno != EINTR) return head;
    std::string taken(static_cast<std::size_t>(std::max<ssize_t>(copied, 0)), '\0');
    std::size_t filled = 0;
    while (filled < taken.size()) {
      ssize_t got = ::read(copy_read.get(), taken.data() + filled, taken.size() - filled);
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    taken.resize(filled);
    bool grew = taken.size() > head.size();
    if (grew) head = std::move(taken);
    if (writer_gone) break;
    if (grew || head.empty()) {
      // An empty pipe: wait for the writer's first bytes, or for it to go.
      if (head.empty()) ::poll(&state, 1, -1);
      continue;
    }
    struct timespec pause {0, 1'000'000};  // the writer is still filling the pipe
    ::nanosleep(&pause, nullptr);
  }
  return head;
}

// A socket's bytes are looked at the same way, with MSG_PEEK.
std::string peek_socket(int fd, std::size_t limit) {
  std::string head(limit, '\0');
  ssize_t got = ::recv(fd, head.data(), limit, MSG_PEEK | MSG_WAITALL);
  head.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  return head;
}

}  // namespace

std::string read_file_head(const std::string& path, std::size_t limit) {
  if (special_file_reason(path)) return {};
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return {};
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return {};
  if (S_ISFIFO(info.st_mode)) return peek_pipe(file.get(), limit);
  if (S_ISSOCK(info.st_mode)) return peek_socket(file.get(), limit);
  std::string bytes(limit, '\0');
  std::size_t filled = 0;
  while (filled < limit) {
    ssize_t got = ::read(file.get(), bytes.data() + filled, limit - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {};
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace tarnwick
