#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cbm/cbm_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)tarnwick::summarize_cbm_bytes("fuzz.cbm", bytes);
  return 0;
}
