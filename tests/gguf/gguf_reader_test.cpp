#include <gtest/gtest.h>

#include "gguf/ggml_types.h"
#include "gguf/gguf_reader.h"
#include "gguf_builder.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

struct TypeCase {
  std::uint32_t code;
  std::string name;
  std::uint64_t block_elements;
  std::uint64_t block_bytes;
};

const std::vector<TypeCase> kTypes{
    {0, "float32", 1, 4},     {1, "float16", 1, 2},     {2, "q4_0", 32, 18},      {3, "q4_1", 32, 20},
    {6, "q5_0", 32, 22},      {7, "q5_1", 32, 24},      {8, "q8_0", 32, 34},      {9, "q8_1", 32, 36},
    {10, "q2_k", 256, 84},    {11, "q3_k", 256, 110},   {12, "q4_k", 256, 144},   {13, "q5_k", 256, 176},
    {14, "q6_k", 256, 210},   {15, "q8_k", 256, 292},   {16, "iq2_xxs", 256, 66}, {17, "iq2_xs", 256, 74},
    {18, "iq3_xxs", 256, 98}, {19, "iq1_s", 256, 50},   {20, "iq4_nl", 32, 18},   {21, "iq3_s", 256, 110},
    {22, "iq2_s", 256, 82},   {23, "iq4_xs", 256, 136}, {24, "int8", 1, 1},       {25, "int16", 1, 2},
    {26, "int32", 1, 4},      {27, "int64", 1, 8},      {28, "float64", 1, 8},    {29, "iq1_m", 256, 56},
    {30, "bfloat16", 1, 2},   {34, "tq1_0", 256, 54},   {35, "tq2_0", 256, 66},   {39, "mxfp4", 32, 17},
};

TEST(GgufReader, ReadsEveryGgmlTypeInEveryVersion) {
  for (std::uint32_t version : {1u, 2u, 3u}) {
    SCOPED_TRACE(version);
    GgufBuilder builder(version);
    builder.kv_string("general.architecture", "llama");
    std::vector<std::uint64_t> expected_bytes;
    for (const TypeCase& type : kTypes) {
      std::uint64_t bytes = 2 * 3 * type.block_bytes;
      builder.tensor("t." + type.name, {2 * type.block_elements, 3}, type.code, std::string(bytes, '\x01'));
      expected_bytes.push_back(bytes);
    }
    for (std::uint32_t retired : {4u, 5u, 31u, 33u, 36u, 38u, 40u, 4000000000u}) {
      builder.tensor("retired." + std::to_string(retired), {32}, retired, "");
    }
    TempDir dir;
    std::string file = builder.build();
    std::string path = dir.write("model.gguf", file);
    Result<TensorTable> table = read_gguf_table(path);
    ASSERT_TRUE(table.is_ok()) << table.message();
    std::uint64_t data_start = (builder.header().size() + 31) / 32 * 32;
    const auto& tensors = table.value().tensors;
    ASSERT_EQ(tensors.size(), kTypes.size() + 8);
    std::uint64_t offset = data_start;
    for (std::size_t i = 0; i < kTypes.size(); ++i) {
      SCOPED_TRACE(kTypes[i].name);
      EXPECT_EQ(tensors[i].name, "t." + kTypes[i].name);
      EXPECT_EQ(tensors[i].dtype, kTypes[i].name);
      EXPECT_EQ(tensors[i].shape, (std::vector<std::uint64_t>{2 * kTypes[i].block_elements, 3}));
      EXPECT_EQ(tensors[i].numel, 6 * kTypes[i].block_elements);
      EXPECT_EQ(tensors[i].bytes, expected_bytes[i]);
      offset = (offset + 31) / 32 * 32;
      EXPECT_EQ(tensors[i].offset, offset);
      ASSERT_TRUE(tensors[i].data.has_value());
      EXPECT_EQ(tensors[i].data->length, expected_bytes[i]);
      offset += expected_bytes[i];
    }
    EXPECT_EQ(tensors[kTypes.size()].dtype, "unknown(4)");
    EXPECT_EQ(tensors.back().dtype, "unknown(4000000000)");
    EXPECT_EQ(tensors.back().bytes, 0u);
    EXPECT_FALSE(tensors.back().data.has_value());
    EXPECT_EQ(table.value().metadata, Json({{"general.architecture", "llama"}}));
  }
}

TEST(GgufReader, ReadsEveryValueTypeAndSummarisesLongArrays) {
  GgufBuilder b;
  std::string seventeen;
  for (int i = 0; i < 17; ++i) seventeen += b.str("tok" + std::to_string(i));
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += gguf_le(static_cast<std::uint64_t>(i), 4);
  std::string nested = b.array(9, 2, b.array(0, 2, "\x01\x02") + b.array(8, 1, b.str("x")));
  b.kv("u8", 0, "\xff").kv("i8", 1, "\xff").kv("u16", 2, gguf_le(65535, 2)).kv("i16", 3, gguf_le(0xfffe, 2));
  b.kv("u32", 4, gguf_le(4000000000u, 4)).kv("i32", 5, gguf_le(0xfffffffd, 4)).kv("f32", 6, gguf_le(0x3fc00000, 4));
  b.kv("bool", 7, "\x01").kv("str", 8, b.str("caf\xc3\xa9")).kv("bad_utf8", 8, b.str("a\xff"));
  b.kv("u64", 10, gguf_le(18446744073709551615ull, 8)).kv("i64", 11, gguf_le(static_cast<std::uint64_t>(-5), 8));
  b.kv("f64", 12, gguf_le(0x4004000000000000ull, 8));
  b.kv("tokens", 9, b.array(8, 17, seventeen)).kv("sixteen", 9, b.array(4, 16, sixteen)).kv("nested", 9, nested);
  TempDir dir;
  Result<TensorTable> table = read_gguf_table(dir.write("m.gguf", b.build()));
  ASSERT_TRUE(table.is_ok()) << table.message();
  Json expected = {{"u8", 255},       {"i8", -1},          {"u16", 65535},
                   {"i16", -2},       {"u32", 4000000000u}, {"i32", -3},
                   {"f32", 1.5},      {"bool", true},      {"str", "caf\xc3\xa9"},
                   {"bad_utf8", "a\xef\xbf\xbd"},           {"u64", 18446744073709551615ull},
                   {"i64", -5},       {"f64", 2.5},        {"tokens", {{"type", "string"}, {"count", 17}}},
                   {"sixteen", Json::array({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})},
                   {"nested", Json::array({Json::array({1, 2}), Json::array({"x"})})}};
  EXPECT_EQ(table.value().metadata, expected);
}

struct HostileCase {
  std::string label;
  std::string file;
  std::string error;
};

std::string deep_array(int depth) {
  GgufBuilder b;
  std::string value = b.array(0, 0, "");
  for (int i = 0; i < depth; ++i) value = b.array(9, 1, value);
  return b.kv("deep", 9, value).build();
}

TEST(GgufReader, RejectsHostileHeadersWithOneClearError) {
  const std::uint64_t two_63 = 1ull << 63;
  GgufBuilder b;
  std::string f32x8(32, '\0');
  const std::vector<HostileCase> cases{
      {"no magic", "GGML" + gguf_le(3, 4), "missing the GGUF magic"},
      {"version 4", "GGUF" + gguf_le(4, 4) + gguf_le(0, 8) + gguf_le(0, 8), "unsupported GGUF version 4"},
      {"big-endian", "GGUF" + std::string("\0\0\0\x03", 4) + gguf_le(0, 8) + gguf_le(0, 8), "big-endian"},
      {"truncated counts", "GGUF" + gguf_le(3, 4) + gguf_le(0, 4), "reading the tensor count"},
      {"2^63 tensors", GgufBuilder().counts(two_63, 0).build(), "tensor infos cannot fit in the file"},
      {"2^63 key/values", GgufBuilder().counts(0, two_63).build(), "metadata entries cannot fit in the file"},
      {"key length past the end", "GGUF" + gguf_le(3, 4) + gguf_le(0, 8) + gguf_le(1, 8) + gguf_le(two_63, 8) + std::string(64, 'a'),
       "metadata key 0: a string of 9223372036854775808 bytes runs past the end of the file"},
      {"string value past the end", GgufBuilder().kv("s", 8, gguf_le(1000, 8) + "abc").build(), "runs past the end"},
      {"array count 2^63", GgufBuilder().kv("a", 9, gguf_le(0, 4) + gguf_le(two_63, 8)).build(),
       "array of 9223372036854775808 uint8 values runs past the end of the file"},
      {"array of 2^63 strings", GgufBuilder().kv("a", 9, gguf_le(8, 4) + gguf_le(two_63, 8)).build(), "runs past the end"},
      {"deep arrays", deep_array(1000), "arrays nested deeper than 8 levels"},
      {"unknown value type", GgufBuilder().kv("x", 13, "").build(), "unknown value type 13"},
      {"unknown element type", GgufBuilder().kv("x", 9, gguf_le(77, 4) + gguf_le(0, 8)).build(), "unknown array element type 77"},
      {"duplicate key", GgufBuilder().kv_u32("k", 1).kv_u32("k", 2).build(), "duplicate metadata key \"k\""},
      {"alignment of another type", GgufBuilder().kv("general.alignment", 10, gguf_le(32, 8)).build(),
       "general.alignment is not a uint32"},
      {"alignment not a power of two", GgufBuilder().kv_u32("general.alignment", 24).build(), "is not a power of two"},
      {"alignment zero", GgufBuilder().kv_u32("general.alignment", 0).build(), "is not a power of two"},
      {"dims past the end", GgufBuilder().tensor_at("t", {}, 0, 0, "").build().substr(0, 24) + b.str("t") + gguf_le(1000000, 4) + std::string(64, '\0'),
       "dimensions run past the end of the file"},
      {"shape product overflows", GgufBuilder().tensor("t", {1ull << 32, 1ull << 32}, 0, "").build(),
       "shape product overflows 64 bits"},
      {"row not whole blocks", GgufBuilder().tensor("t", {33, 1}, 2, std::string(36, '\0')).build(),
       "row length 33 is not a multiple of the q4_0 block size 32"},
      {"byte size overflows", GgufBuilder().tensor("t", {1ull << 62}, 0, "").build(), "byte size overflows"},
      {"misaligned offset", GgufBuilder().tensor_at("t", {8}, 0, 4, f32x8).build(), "is not a multiple of the alignment 32"},
      {"data past the end", GgufBuilder().tensor("t", {8}, 0, std::string(16, '\0')).build(),
       "runs past the end of the 16-byte data section"},
      {"offset far past the end", GgufBuilder().tensor_at("t", {0}, 0, 1ull << 62, "").build(), "runs past the end"},
      {"overlap", GgufBuilder().tensor_at("a", {16}, 0, 0, std::string(64, '\0')).tensor_at("b", {8}, 0, 32, "").build(),
       "tensor \"b\" overlaps tensor \"a\""},
      {"duplicate tensor", GgufBuilder().tensor("t", {8}, 0, f32x8).tensor("t", {8}, 0, f32x8).build(),
       "duplicate tensor \"t\""},
      {"tensor name not UTF-8", GgufBuilder().tensor("\xff", {8}, 0, f32x8).build(), "not valid UTF-8"},
  };
  TempDir dir;
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = dir.write("bad.gguf", c.file);
    Result<TensorTable> table = read_gguf_table(path);
    ASSERT_FALSE(table.is_ok());
    EXPECT_EQ(table.message().rfind("invalid GGUF file " + path + ": ", 0), 0u) << table.message();
    EXPECT_NE(table.message().find(c.error), std::string::npos) << table.message();
    CommandRun run = run_command({"contents", "--json", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "error: " + table.message() + "\n");
  }
}

}  // namespace
}  // namespace tarnwick::testing
