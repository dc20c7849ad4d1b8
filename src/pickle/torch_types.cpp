#include "pickle/torch_types.h"

#include <array>

namespace tarnwick {

namespace {

struct Named {
  std::string_view name;
  TorchDtype dtype;
};

constexpr std::array<Named, 26> kStorageClasses{{
    {"DoubleStorage", {"float64", 8}},
    {"FloatStorage", {"float32", 4}},
    {"HalfStorage", {"float16", 2}},
    {"BFloat16Storage", {"bfloat16", 2}},
    {"LongStorage", {"int64", 8}},
    {"IntStorage", {"int32", 4}},
    {"ShortStorage", {"int16", 2}},
    {"CharStorage", {"int8", 1}},
    {"ByteStorage", {"uint8", 1}},
    {"BoolStorage", {"bool", 1}},
    {"ComplexFloatStorage", {"complex64", 8}},
    {"ComplexDoubleStorage", {"complex128", 16}},
    {"QInt8Storage", {"qint8", 1}},
    {"QUInt8Storage", {"quint8", 1}},
    {"QInt32Storage", {"qint32", 4}},
    {"QUInt4x2Storage", {"quint4x2", 1}},
    {"QUInt2x4Storage", {"quint2x4", 1}},
    {"Float8_e4m3fnStorage", {"float8_e4m3fn", 1}},
    {"Float8_e5m2Storage", {"float8_e5m2", 1}},
    {"Float8_e4m3fnuzStorage", {"float8_e4m3fnuz", 1}},
    {"Float8_e5m2fnuzStorage", {"float8_e5m2fnuz", 1}},
    {"Float8_e8m0fnuStorage", {"float8_e8m0", 1}},
    {"UInt16Storage", {"uint16", 2}},
    {"UInt32Storage", {"uint32", 4}},
    {"UInt64Storage", {"uint64", 8}},
    {"Float4_e2m1fn_x2Storage", {"float4_e2m1", 1}},
}};

constexpr std::array<Named, 34> kDtypeAttributes{{
    {"float64", {"float64", 8}},     {"double", {"float64", 8}},     {"float32", {"float32", 4}},
    {"float", {"float32", 4}},       {"float16", {"float16", 2}},    {"half", {"float16", 2}},
    {"bfloat16", {"bfloat16", 2}},   {"int64", {"int64", 8}},        {"long", {"int64", 8}},
    {"int32", {"int32", 4}},         {"int", {"int32", 4}},          {"int16", {"int16", 2}},
    {"short", {"int16", 2}},         {"int8", {"int8", 1}},          {"uint8", {"uint8", 1}},
    {"uint16", {"uint16", 2}},       {"uint32", {"uint32", 4}},      {"uint64", {"uint64", 8}},
    {"bool", {"bool", 1}},           {"complex64", {"complex64", 8}}, {"cfloat", {"complex64", 8}},
    {"complex128", {"complex128", 16}}, {"cdouble", {"complex128", 16}}, {"qint8", {"qint8", 1}},
    {"quint8", {"quint8", 1}},       {"qint32", {"qint32", 4}},      {"quint4x2", {"quint4x2", 1}},
    {"quint2x4", {"quint2x4", 1}},   {"float8_e4m3fn", {"float8_e4m3fn", 1}},
    {"float8_e5m2", {"float8_e5m2", 1}}, {"float8_e4m3fnuz", {"float8_e4m3fnuz", 1}},
    {"float8_e5m2fnuz", {"float8_e5m2fnuz", 1}}, {"float8_e8m0fnu", {"float8_e8m0", 1}},
    {"float4_e2m1fn_x2", {"float4_e2m1", 1}},
}};

std::optional<TorchDtype> find(std::string_view name, const auto& table) {
  for (const Named& entry : table) {
    if (entry.name == name) return entry.dtype;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TorchDtype> storage_class_dtype(std::string_view class_name) { return find(class_name, kStorageClasses); }

std::optional<TorchDtype> torch_dtype_attribute(std::string_view attribute) {
  return find(attribute, kDtypeAttributes);
}

std::optional<std::uint64_t> dtype_element_size(std::string_view dtype) {
  for (const Named& entry : kDtypeAttributes) {
    if (entry.dtype.dtype == dtype) return entry.dtype.element_size;
  }
  return std::nullopt;
}

}  // namespace tarnwick
