#include "registry/format_list.h"

#include <array>

#include "cbm/catboost_format.h"
#include "demo/plan_format.h"
#include "gguf/gguf_format.h"
#include "lightgbm/lightgbm_format.h"
#include "onnx/onnx_format.h"
#include "pt/pickle_format.h"
#include "pt/pytorch_format.h"
#include "safetensors/safetensors_format.h"

namespace tarnwick {

std::span<const FormatDescriptor* const> built_in_formats() {
  // Content tests run in this order; the signatures are disjoint, so it only matters for bytes
  // that satisfy two tests at once (a safetensors header inside a pickle, say).
  static const std::array<const FormatDescriptor*, 8> kFormats{
      &kCatBoostFormat,    &kLightgbmFormat, &kPyTorchFormat,    &kGgufFormat,
      &kSafetensorsFormat, &kOnnxFormat,     &kTensorPlanFormat, &kPickleFormat,
  };
  return kFormats;
}

}  // namespace tarnwick
