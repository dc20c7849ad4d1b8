#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lightgbm/lightgbm_summary.h"
#include "lightgbm/lightgbm_trees.h"
#include "base/json_text.h"
#include "tables/tree_contents_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tarnwick::Result<tarnwick::LightgbmSummary> summary = tarnwick::summarize_lightgbm_text("fuzz.txt", bytes);
  if (summary.is_ok()) (void)tarnwick::pretty_json_text(tarnwick::lightgbm_summary_json(summary.value()));
  tarnwick::Result<tarnwick::TreeTable> trees = tarnwick::parse_lightgbm_trees("fuzz.txt", bytes);
  if (trees.is_ok()) (void)tarnwick::pretty_json_text(tarnwick::tree_contents_json(trees.value()));
  return 0;
}
