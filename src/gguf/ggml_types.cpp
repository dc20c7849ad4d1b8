#include "gguf/ggml_types.h"

#include <array>

namespace tarnwick {

namespace {

// Codes 4, 5, 31-33 and 36-38 are retired and stay unknown.
constexpr std::array<GgmlType, 32> kTypes{{
    {0, "float32", 1, 4},     {1, "float16", 1, 2},     {2, "q4_0", 32, 18},      {3, "q4_1", 32, 20},
    {6, "q5_0", 32, 22},      {7, "q5_1", 32, 24},      {8, "q8_0", 32, 34},      {9, "q8_1", 32, 36},
    {10, "q2_k", 256, 84},    {11, "q3_k", 256, 110},   {12, "q4_k", 256, 144},   {13, "q5_k", 256, 176},
    {14, "q6_k", 256, 210},   {15, "q8_k", 256, 292},   {16, "iq2_xxs", 256, 66}, {17, "iq2_xs", 256, 74},
    {18, "iq3_xxs", 256, 98}, {19, "iq1_s", 256, 50},   {20, "iq4_nl", 32, 18},   {21, "iq3_s", 256, 110},
    {22, "iq2_s", 256, 82},   {23, "iq4_xs", 256, 136}, {24, "int8", 1, 1},       {25, "int16", 1, 2},
    {26, "int32", 1, 4},      {27, "int64", 1, 8},      {28, "float64", 1, 8},    {29, "iq1_m", 256, 56},
    {30, "bfloat16", 1, 2},   {34, "tq1_0", 256, 54},   {35, "tq2_0", 256, 66},   {39, "mxfp4", 32, 17},
}};

}  // namespace

std::optional<GgmlType> find_ggml_type(std::uint32_t code) {
  for (const GgmlType& type : kTypes) {
    if (type.code == code) return type;
  }
  return std::nullopt;
}

std::string ggml_type_name(std::uint32_t code) {
  if (std::optional<GgmlType> type = find_ggml_type(code)) return std::string(type->name);
  return "unknown(" + std::to_string(code) + ")";
}

}  // namespace tarnwick
