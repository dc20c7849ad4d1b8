// The TFLite reader over the bytes as given, then the summary and contents reports of a file
// holding them, as the commands would print them.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tables/tensor_file_summary.h"
#include "tflite/tflite_format.h"
#include "tflite/tflite_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)tarnwick::tflite_table_from_bytes("fuzz.tflite", bytes);
  static const std::string path = "/dev/shm/tarnwick-fuzz-" + std::to_string(::getpid()) + ".tflite";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  std::size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  (void)tarnwick::read_tensor_file_summary(path, tarnwick::kTfliteModel);
  return 0;
}
