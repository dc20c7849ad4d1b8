#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cbm/cbm_core_reader.h"
#include "tables/tree_contents_json.h"

// Inputs are taken as whole files and also as bare cores behind a valid header, so the fuzzer
// spends its time inside the FlatBuffers reader rather than on the signature.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tarnwick::Result<tarnwick::TreeTable> table = tarnwick::decode_cbm_trees("fuzz.cbm", bytes);
  if (table.is_ok()) (void)tarnwick::tree_contents_json(table.value()).dump();
  if (bytes.starts_with("CBM1")) return 0;
  std::string file = "CBM1";
  auto core_size = static_cast<std::uint32_t>(size);
  file.append(reinterpret_cast<const char*>(&core_size), 4);
  file.append(bytes);
  table = tarnwick::decode_cbm_trees("fuzz.cbm", file);
  if (table.is_ok()) (void)tarnwick::tree_contents_json(table.value()).dump();
  return 0;
}
