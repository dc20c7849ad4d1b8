// The NumPy reader works on a file (an .npz is read by position), so each input is written to
// one first; the tensor table, the summary that hashes it, and the scan read the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input_file.h"

#include "numpy/numpy_format.h"
#include "numpy/numpy_table.h"
#include "scan/file_scan.h"
#include "tables/tensor_file_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_fuzz_input(data, size, ".npz");
  if (path.empty()) return 0;
  (void)tarnwick::read_numpy_table(path);
  (void)tarnwick::read_tensor_file_summary(path, tarnwick::kNumpyArrays);
  (void)tarnwick::scan::scan_file(path);
  return 0;
}
