// The TFLite reader over the bytes as given, then the summary and contents reports of a file
// holding them, as the commands would print them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input_file.h"
#include <string_view>

#include "tables/tensor_file_summary.h"
#include "tflite/tflite_format.h"
#include "tflite/tflite_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)tarnwick::tflite_table_from_bytes("fuzz.tflite", bytes);
  const std::string path = write_fuzz_input(data, size, ".tflite");
  if (path.empty()) return 0;
  (void)tarnwick::read_tensor_file_summary(path, tarnwick::kTfliteModel);
  return 0;
}
