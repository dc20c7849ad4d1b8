#include "registry/format_list.h"

#include <array>

#include "cbm/catboost_format.h"
#include "demo/plan_format.h"
#include "gguf/gguf_format.h"
#include "keras/keras_format.h"
#include "lightgbm/lightgbm_format.h"
#include "numpy/numpy_format.h"
#include "onnx/onnx_format.h"
#include "pt/pickle_format.h"
#include "pt/pytorch_format.h"
#include "safetensors/safetensors_format.h"
#include "tflite/tflite_format.h"
#include "xgboost/xgboost_format.h"

namespace tarnwick {

std::span<const FormatDescriptor* const> built_in_formats() {
  // Content tests run in this order, the strictest first where two can hold at once: a
  // safetensors header length whose low byte is 0x80 (640 bytes: 80 02 ...) also starts like a
  // pickle, while a pickle or zip never has '{' at byte 8 after a length that fits the file.
  // An .npz is a zip whose first member is an array, which torch.load would refuse.
  // A Keras archive is a zip that opens with its metadata.json or config.json.
  static const std::array<const FormatDescriptor*, 12> kFormats{
      &kCatBoostFormat, &kLightgbmFormat, &kXgboostFormat, &kGgufFormat,       &kSafetensorsFormat, &kNumpyFormat,
      &kTfliteFormat,   &kKerasFormat,    &kPyTorchFormat, &kOnnxFormat,       &kTensorPlanFormat,  &kPickleFormat,
  };
  return kFormats;
}

}  // namespace tarnwick
