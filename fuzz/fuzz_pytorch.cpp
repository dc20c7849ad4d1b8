// The PyTorch readers and the scan work on a file, so each input is written to one first.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/json_text.h"
#include "pt/pytorch_summary.h"
#include "pt/pytorch_tensors.h"
#include "scan/file_scan.h"
#include "pickle/import_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/dev/shm/tarnwick-fuzz-" + std::to_string(::getpid()) + ".pt";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  std::size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  tarnwick::Result<tarnwick::PyTorchSummary> summary = tarnwick::read_pytorch_summary(path);
  if (summary.is_ok()) (void)tarnwick::pretty_json_text(tarnwick::pytorch_summary_json(summary.value()));
  tarnwick::scan_param_names(std::string_view(reinterpret_cast<const char*>(data), size));
  // The exact tensor table and the safety scan walk the same bytes with the pickle machine.
  (void)tarnwick::read_pytorch_tensor_table(path);
  (void)tarnwick::scan::scan_file(path);
  (void)tarnwick::scan::trace_pickle(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
