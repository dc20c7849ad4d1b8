// What the TFLite reader needs of the published FlatBuffers schema (schema version 3): field
// slots of the tables it reads, the tensor type codes and the builtin operator names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::tflite {

inline constexpr std::string_view kFileIdentifier = "TFL3";  // bytes 4 to 8 of the buffer

namespace model {
inline constexpr int kVersion = 0, kOperatorCodes = 1, kSubgraphs = 2, kDescription = 3, kBuffers = 4,
                     kMetadataBuffer = 5, kMetadata = 6, kSignatureDefs = 7;
}
namespace operator_code {
inline constexpr int kDeprecatedBuiltinCode = 0, kCustomCode = 1, kVersion = 2, kBuiltinCode = 3;
}
namespace subgraph {
inline constexpr int kTensors = 0, kInputs = 1, kOutputs = 2, kOperators = 3, kName = 4;
}
namespace tensor {
inline constexpr int kShape = 0, kType = 1, kBuffer = 2, kName = 3, kQuantization = 4, kIsVariable = 5;
}
namespace quantization {
inline constexpr int kMin = 0, kMax = 1, kScale = 2, kZeroPoint = 3, kQuantizedDimension = 6;
}
namespace op {
inline constexpr int kOpcodeIndex = 0, kInputs = 1, kOutputs = 2;
}
namespace buffer {
inline constexpr int kData = 0, kOffset = 1, kSize = 2;
}
namespace metadata {
inline constexpr int kName = 0, kBuffer = 1;
}
namespace signature_def {
inline constexpr int kInputs = 0, kOutputs = 1, kSignatureKey = 2, kSubgraphIndex = 4;
}
namespace tensor_map {
inline constexpr int kName = 0, kTensorIndex = 1;
}

// The canonical dtype of a TensorType code, or "unknown(<code>)".
std::string tensor_dtype(std::int8_t type);

// A BuiltinOperator's name as the schema spells it ("CONV_2D"), or "BUILTIN_<code>".
std::string builtin_operator_name(std::int32_t code);

// Operator codes at and above this one are stored in builtin_code only; below it the
// deprecated byte holds the same value.
inline constexpr std::int32_t kPlaceholderForGreaterOpCodes = 127;
inline constexpr std::int32_t kCustomOperator = 32;

}  // namespace tarnwick::tflite
