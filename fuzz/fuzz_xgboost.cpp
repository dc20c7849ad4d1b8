#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/json_text.h"
#include "tables/tree_contents_json.h"
#include "xgboost/xgboost_model.h"
#include "xgboost/xgboost_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tarnwick::Result<tarnwick::XgboostModel> model = tarnwick::parse_xgboost_model("fuzz.ubj", bytes);
  if (model.is_ok()) {
    (void)tarnwick::pretty_json_text(tarnwick::xgboost_summary_json(model.value()));
    (void)tarnwick::pretty_json_text(tarnwick::tree_contents_json(model.value().trees));
  }
  return 0;
}
