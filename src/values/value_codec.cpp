#include "values/value_codec.h"

#include <array>
#include <cstring>
#include <vector>

namespace tarnwick {

namespace {

template <class T, class Out>
void widen(const unsigned char* bytes, std::uint64_t count, Out* out) {
  for (std::uint64_t i = 0; i < count; ++i) {
    T value;
    std::memcpy(&value, bytes + i * sizeof(T), sizeof(T));
    out[i] = static_cast<Out>(value);
  }
}

// Every float16 bit pattern's value, so that a half decodes by one load.
const float* half_table() {
  static const std::vector<float> kTable = [] {
    std::vector<float> table(65536);
    for (std::uint32_t bits = 0; bits < 65536; ++bits) table[bits] = half_to_float(static_cast<std::uint16_t>(bits));
    return table;
  }();
  return kTable.data();
}

void from_table16(const unsigned char* bytes, std::uint64_t count, const float* table, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) out[i] = table[bytes[2 * i] | (bytes[2 * i + 1] << 8)];
}

void from_bfloat16(const unsigned char* bytes, std::uint64_t count, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) {
    out[i] = bfloat16_to_float(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  }
}

void from_table8(const unsigned char* bytes, std::uint64_t count, const float* table, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) out[i] = table[bytes[i]];
}

struct Float8Name {
  std::string_view dtype;
  Float8Kind kind;
};
constexpr std::array<Float8Name, 5> kFloat8{{{"float8_e4m3fn", Float8Kind::E4M3FN},
                                             {"float8_e5m2", Float8Kind::E5M2},
                                             {"float8_e4m3fnuz", Float8Kind::E4M3FNUZ},
                                             {"float8_e5m2fnuz", Float8Kind::E5M2FNUZ},
                                             {"float8_e8m0", Float8Kind::E8M0}}};

}  // namespace

std::optional<ValueCodec> ValueCodec::for_dtype(std::string_view dtype) {
  if (dtype == "float64") return ValueCodec(Kind::Float64, 8);
  if (dtype == "float32") return ValueCodec(Kind::Float32, 4);
  if (dtype == "float16") {
    ValueCodec codec(Kind::Float16, 2);
    codec.float8_ = half_table();
    return codec;
  }
  if (dtype == "bfloat16") return ValueCodec(Kind::Bfloat16, 2);
  if (dtype == "int64") return ValueCodec(Kind::Int64, 8);
  if (dtype == "int32") return ValueCodec(Kind::Int32, 4);
  if (dtype == "int16") return ValueCodec(Kind::Int16, 2);
  if (dtype == "int8") return ValueCodec(Kind::Int8, 1);
  if (dtype == "uint64") return ValueCodec(Kind::Uint64, 8);
  if (dtype == "uint32") return ValueCodec(Kind::Uint32, 4);
  if (dtype == "uint16") return ValueCodec(Kind::Uint16, 2);
  if (dtype == "uint8") return ValueCodec(Kind::Uint8, 1);
  if (dtype == "bool") return ValueCodec(Kind::Bool, 1);
  for (const Float8Name& name : kFloat8) {
    if (name.dtype != dtype) continue;
    ValueCodec codec(Kind::Float8, 1);
    codec.float8_ = float8_table(name.kind);
    return codec;
  }
  if (std::optional<GgmlBlockLayout> layout = ggml_block_layout(dtype)) {
    ValueCodec codec(Kind::Blocks, layout->bytes);
    codec.unit_elements_ = layout->elements;
    codec.blocks_ = *layout;
    return codec;
  }
  return std::nullopt;
}

bool ValueCodec::block_sums(const unsigned char* bytes, std::uint64_t units, ShiftedSums& sums) const {
  return kind_ == Kind::Blocks && blocks_.sums != nullptr && blocks_.sums(bytes, units, sums);
}

ValueCodec::Run ValueCodec::decode_run(const unsigned char* bytes, std::uint64_t units, float* float_buffer,
                                      double* double_buffer) const {
  const auto address = reinterpret_cast<std::uintptr_t>(bytes);
  switch (kind_) {
    case Kind::Float64:
      if (address % alignof(double) == 0) return {nullptr, reinterpret_cast<const double*>(bytes)};
      std::memcpy(double_buffer, bytes, units * 8);
      return {nullptr, double_buffer};
    case Kind::Float32:
      if (address % alignof(float) == 0) return {reinterpret_cast<const float*>(bytes), nullptr};
      std::memcpy(float_buffer, bytes, units * 4);
      return {float_buffer, nullptr};
    case Kind::Float16: from_table16(bytes, units, float8_, float_buffer); break;
    case Kind::Bfloat16: from_bfloat16(bytes, units, float_buffer); break;
    case Kind::Float8: from_table8(bytes, units, float8_, float_buffer); break;
    case Kind::Int64: widen<std::int64_t>(bytes, units, double_buffer); return {nullptr, double_buffer};
    case Kind::Int32: widen<std::int32_t>(bytes, units, double_buffer); return {nullptr, double_buffer};
    case Kind::Uint64: widen<std::uint64_t>(bytes, units, double_buffer); return {nullptr, double_buffer};
    case Kind::Uint32: widen<std::uint32_t>(bytes, units, double_buffer); return {nullptr, double_buffer};
    case Kind::Int16: widen<std::int16_t>(bytes, units, float_buffer); break;
    case Kind::Int8: widen<std::int8_t>(bytes, units, float_buffer); break;
    case Kind::Uint16: widen<std::uint16_t>(bytes, units, float_buffer); break;
    case Kind::Uint8: widen<std::uint8_t>(bytes, units, float_buffer); break;
    case Kind::Bool:
      for (std::uint64_t i = 0; i < units; ++i) float_buffer[i] = bytes[i] != 0 ? 1.0f : 0.0f;
      break;
    case Kind::Blocks: blocks_.dequantize(bytes, units, float_buffer); break;
  }
  return {float_buffer, nullptr};
}

void ValueCodec::decode(const unsigned char* bytes, std::uint64_t units, double* out, float* scratch) const {
  Run run = decode_run(bytes, units, scratch, out);
  const std::uint64_t count = units * unit_elements_;
  if (run.doubles != nullptr) {
    if (run.doubles != out) std::memcpy(out, run.doubles, count * 8);
    return;
  }
  for (std::uint64_t i = 0; i < count; ++i) out[i] = static_cast<double>(run.floats[i]);
}

std::string undecodable_reason(std::string_view dtype) {
  std::string name(dtype);
  if (dtype.starts_with("unknown(")) return "dtype " + name + " is not known";
  if (dtype.starts_with("complex")) return "dtype " + name + " holds complex values, which have no order";
  if (dtype == "string") return "a string tensor has no numeric values";
  if (dtype.starts_with("q") && (dtype.starts_with("qint") || dtype.starts_with("quint"))) {
    return "dtype " + name + " needs its quantization scale, which the table does not hold";
  }
  return "values of dtype " + name + " are not decoded";
}

}  // namespace tarnwick
