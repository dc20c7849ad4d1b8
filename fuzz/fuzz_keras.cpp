// The Keras reader opens the archive by position and hands its weights to libhdf5 from memory;
// each input is written to a file first. The scan reads the config the same way.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input_file.h"

#include "keras/keras_archive.h"
#include "scan/file_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_fuzz_input(data, size, ".keras");
  if (path.empty()) return 0;
  (void)tarnwick::read_keras_table(path);
  (void)tarnwick::scan::scan_file(path);
  return 0;
}
