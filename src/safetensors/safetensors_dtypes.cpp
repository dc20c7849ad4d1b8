#include "safetensors/safetensors_dtypes.h"

#include <array>

namespace tarnwick {

namespace {

constexpr std::array<SafetensorsDtype, 22> kDtypes{{
    {"BOOL", "bool", 8},
    {"U8", "uint8", 8},
    {"I8", "int8", 8},
    {"F8_E5M2", "float8_e5m2", 8},
    {"F8_E4M3", "float8_e4m3fn", 8},
    {"F8_E8M0", "float8_e8m0", 8},
    {"F8_E4M3FNUZ", "float8_e4m3fnuz", 8},
    {"F8_E5M2FNUZ", "float8_e5m2fnuz", 8},
    {"I16", "int16", 16},
    {"U16", "uint16", 16},
    {"F16", "float16", 16},
    {"BF16", "bfloat16", 16},
    {"I32", "int32", 32},
    {"U32", "uint32", 32},
    {"F32", "float32", 32},
    {"C64", "complex64", 64},
    {"F64", "float64", 64},
    {"I64", "int64", 64},
    {"U64", "uint64", 64},
    {"F4", "float4_e2m1", 4},
    {"F6_E2M3", "float6_e2m3", 6},
    {"F6_E3M2", "float6_e3m2", 6},
}};

}  // namespace

std::optional<SafetensorsDtype> find_safetensors_dtype(std::string_view code) {
  for (const SafetensorsDtype& dtype : kDtypes) {
    if (dtype.code == code) return dtype;
  }
  return std::nullopt;
}

std::optional<SafetensorsDtype> safetensors_dtype_for_name(std::string_view name) {
  for (const SafetensorsDtype& dtype : kDtypes) {
    if (dtype.name == name) return dtype;
  }
  return std::nullopt;
}

}  // namespace tarnwick
