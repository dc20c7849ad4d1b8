// The NumPy reader works on a file (an .npz is read by position), so each input is written to
// one first; the tensor table, the summary that hashes it, and the scan read the same bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "numpy/numpy_format.h"
#include "numpy/numpy_table.h"
#include "scan/file_scan.h"
#include "tables/tensor_file_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/dev/shm/tarnwick-fuzz-" + std::to_string(::getpid()) + ".npz";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  std::size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  (void)tarnwick::read_numpy_table(path);
  (void)tarnwick::read_tensor_file_summary(path, tarnwick::kNumpyArrays);
  (void)tarnwick::scan::scan_file(path);
  return 0;
}
