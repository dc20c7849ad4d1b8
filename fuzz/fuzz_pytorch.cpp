// The PyTorch readers and the scan work on a file, so each input is written to one first.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input_file.h"

#include "base/json_text.h"
#include "pt/pytorch_summary.h"
#include "pt/pytorch_tensors.h"
#include "scan/file_scan.h"
#include "pickle/import_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_fuzz_input(data, size, ".pt");
  if (path.empty()) return 0;
  tarnwick::Result<tarnwick::PyTorchSummary> summary = tarnwick::read_pytorch_summary(path);
  if (summary.is_ok()) (void)tarnwick::pretty_json_text(tarnwick::pytorch_summary_json(summary.value()));
  tarnwick::scan_param_names(std::string_view(reinterpret_cast<const char*>(data), size));
  // The exact tensor table and the safety scan walk the same bytes with the pickle machine.
  (void)tarnwick::read_pytorch_tensor_table(path);
  (void)tarnwick::scan::scan_file(path);
  (void)tarnwick::scan::trace_pickle(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
