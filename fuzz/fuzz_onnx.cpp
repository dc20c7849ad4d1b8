#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/json_text.h"
#include "onnx/onnx_commands.h"
#include "onnx/profile/profile_report.h"
#include "onnx/protobuf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)tarnwick::decode_fields(bytes);
  tarnwick::Result<tarnwick::OnnxSummary> summary = tarnwick::summarize_onnx_bytes("fuzz.onnx", bytes);
  if (summary.is_ok()) (void)tarnwick::pretty_json_text(tarnwick::onnx_inspect_document(summary.value()));
  tarnwick::Result<tarnwick::OnnxModel> model = tarnwick::decode_onnx_model(bytes);
  if (model.is_ok())
    (void)tarnwick::pretty_json_text(tarnwick::profile_document(tarnwick::profile_model("fuzz.onnx", model.value(), {})));
  return 0;
}
