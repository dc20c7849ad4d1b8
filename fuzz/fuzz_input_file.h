// Readers that work on a path (read by position, or mapped) are fuzzed through a file holding
// the input: one per process, in memory-backed /dev/shm, rewritten for every input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The file's path, or "" when it could not be written.
inline std::string write_fuzz_input(const std::uint8_t* data, std::size_t size, const char* extension) {
  const std::string path = "/dev/shm/tarnwick-fuzz-" + std::to_string(::getpid()) + extension;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return "";
  std::size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return path;
}
