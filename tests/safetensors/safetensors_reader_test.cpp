#include <gtest/gtest.h>

#include "safetensors/safetensors_reader.h"
#include "safetensors_builder.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

struct DtypeCase {
  std::string code;
  std::string name;
  std::vector<std::uint64_t> shape;
  std::size_t bytes;
};

TEST(SafetensorsReader, ReadsEveryDtypeScalarsEmptyTensorsAndPadding) {
  const std::vector<DtypeCase> cases{
      {"BOOL", "bool", {3}, 3},
      {"U8", "uint8", {2, 2}, 4},
      {"I8", "int8", {1}, 1},
      {"F8_E5M2", "float8_e5m2", {2}, 2},
      {"F8_E4M3", "float8_e4m3fn", {2}, 2},
      {"F8_E8M0", "float8_e8m0", {1}, 1},
      {"F8_E4M3FNUZ", "float8_e4m3fnuz", {1}, 1},
      {"F8_E5M2FNUZ", "float8_e5m2fnuz", {1}, 1},
      {"I16", "int16", {3}, 6},
      {"U16", "uint16", {1}, 2},
      {"F16", "float16", {2, 1}, 4},
      {"BF16", "bfloat16", {2}, 4},
      {"I32", "int32", {}, 4},
      {"U32", "uint32", {1}, 4},
      {"F32", "float32", {2, 3}, 24},
      {"C64", "complex64", {1}, 8},
      {"F64", "float64", {}, 8},
      {"I64", "int64", {2}, 16},
      {"U64", "uint64", {1}, 8},
      {"F4", "float4_e2m1", {2, 3}, 3},
      {"F6_E2M3", "float6_e2m3", {4}, 3},
      {"F6_E3M2", "float6_e3m2", {8}, 6},
      {"F32", "float32", {0, 5}, 0},
  };
  for (std::size_t alignment : {1, 8, 64}) {
    std::vector<SafetensorsTensor> tensors;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      tensors.push_back({"t" + std::to_string(i), cases[i].code, cases[i].shape, counting_bytes(cases[i].bytes, static_cast<unsigned>(i))});
    }
    TempDir dir;
    std::string file = safetensors_file(tensors, nullptr, alignment);
    std::string path = dir.write("all.safetensors", file);
    Result<TensorTable> table = read_safetensors_table(path);
    ASSERT_TRUE(table.is_ok()) << table.message();
    ASSERT_EQ(table.value().tensors.size(), cases.size());
    std::uint64_t data_start = 8 + (file.size() - 8 - [&] {
                                      std::size_t total = 0;
                                      for (const DtypeCase& c : cases) total += c.bytes;
                                      return total;
                                    }());
    std::uint64_t expected_offset = data_start;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const TensorEntry& tensor = table.value().tensors[i];
      SCOPED_TRACE(cases[i].code);
      EXPECT_EQ(tensor.name, "t" + std::to_string(i));
      EXPECT_EQ(tensor.dtype, cases[i].name);
      EXPECT_EQ(tensor.shape, cases[i].shape);
      EXPECT_EQ(tensor.bytes, cases[i].bytes);
      EXPECT_EQ(tensor.offset, expected_offset);
      ASSERT_TRUE(tensor.data.has_value());
      EXPECT_EQ(tensor.data->offset, expected_offset);
      EXPECT_EQ(tensor.data->length, cases[i].bytes);
      expected_offset += cases[i].bytes;
    }
  }
}

TEST(SafetensorsReader, OrdersTensorsByOffsetNotByKey) {
  std::string data = counting_bytes(12);
  std::string header =
      R"({"b":{"dtype":"F32","shape":[1],"data_offsets":[8,12]},)"
      R"("a":{"dtype":"F32","shape":[2],"data_offsets":[0,8]},"__metadata__":{"format":"pt"}})";
  TempDir dir;
  Result<TensorTable> table = read_safetensors_table(dir.write("m.safetensors", safetensors_raw(header, data)));
  ASSERT_TRUE(table.is_ok()) << table.message();
  ASSERT_EQ(table.value().tensors.size(), 2u);
  EXPECT_EQ(table.value().tensors[0].name, "a");
  EXPECT_EQ(table.value().tensors[1].name, "b");
  EXPECT_EQ(table.value().metadata, Json({{"format", "pt"}}));
}

struct SafetensorsHostileCase {
  std::string label;
  std::string file;
  std::string error;  // a part of the one error message
};

TEST(SafetensorsReader, RejectsEachBrokenRuleWithOneClearError) {
  auto entry = [](const std::string& dtype, const std::string& shape, const std::string& offsets) {
    return R"({"dtype":")" + dtype + R"(","shape":)" + shape + R"(,"data_offsets":)" + offsets + "}";
  };
  std::string four = counting_bytes(4);
  std::string huge_length = u64_le(200'000'000) + "{}";
  std::string past_end = u64_le(1000) + "{}";
  const std::vector<SafetensorsHostileCase> cases{
      {"too short", "abc", "shorter than the 8-byte header length"},
      {"header past the end", past_end, "header length 1000 runs past the end of the 10-byte file"},
      {"header over the cap", huge_length, "exceeds the limit of 100000000 bytes"},
      {"not JSON", safetensors_raw("{nope}", ""), "header: invalid JSON"},
      {"not an object", safetensors_raw("[1]", ""), "header does not start with '{'"},
      {"duplicate name", safetensors_raw("{\"a\":" + entry("U8", "[0]", "[0,0]") + ",\"a\":" + entry("U8", "[0]", "[0,0]") + "}", ""),
       "duplicate key \"a\""},
      {"unknown dtype", safetensors_raw("{\"a\":" + entry("F12", "[1]", "[0,4]") + "}", four), "unknown dtype \"F12\""},
      {"extra key", safetensors_raw(R"({"a":{"dtype":"U8","shape":[4],"data_offsets":[0,4],"x":1}})", four),
       "unexpected key \"x\""},
      {"missing offsets", safetensors_raw(R"({"a":{"dtype":"U8","shape":[4]}})", four), "data_offsets missing"},
      {"negative dim", safetensors_raw("{\"a\":" + entry("U8", "[-4]", "[0,4]") + "}", four), "not a non-negative integer"},
      {"float dim", safetensors_raw("{\"a\":" + entry("U8", "[4.0]", "[0,4]") + "}", four), "not a non-negative integer"},
      {"shape product overflows",
       safetensors_raw("{\"a\":" + entry("U8", "[4294967296,4294967296]", "[0,4]") + "}", four), "shape product overflows"},
      {"byte length overflows", safetensors_raw("{\"a\":" + entry("F64", "[4611686018427387904]", "[0,4]") + "}", four),
       "byte length overflows"},
      {"length mismatch", safetensors_raw("{\"a\":" + entry("F32", "[2]", "[0,4]") + "}", four),
       "data_offsets span 4 bytes, but 2 elements of F32 need 8"},
      {"partial byte", safetensors_raw("{\"a\":" + entry("F4", "[3]", "[0,1]") + "}", "x"), "not a whole number of bytes"},
      {"end before begin", safetensors_raw("{\"a\":" + entry("U8", "[0]", "[4,0]") + "}", four), "end lies before begin"},
      {"gap at the start", safetensors_raw("{\"a\":" + entry("U8", "[2]", "[2,4]") + "}", four), "gap in the data buffer"},
      {"overlap",
       safetensors_raw("{\"a\":" + entry("U8", "[4]", "[0,4]") + ",\"b\":" + entry("U8", "[2]", "[2,4]") + "}", four),
       "overlaps the previous tensor"},
      {"bytes after the last tensor", safetensors_raw("{\"a\":" + entry("U8", "[2]", "[0,2]") + "}", four),
       "tensors cover 2 bytes of a 4-byte data buffer"},
      {"offsets past the end", safetensors_raw("{\"a\":" + entry("U8", "[8]", "[0,8]") + "}", four),
       "tensors cover 8 bytes of a 4-byte data buffer"},
      {"metadata not strings", safetensors_raw(R"({"__metadata__":{"epochs":3}})", ""), "is not a string"},
      {"invalid UTF-8 name", safetensors_raw("{\"\xff\":" + entry("U8", "[0]", "[0,0]") + "}", ""), "invalid JSON"},
  };
  TempDir dir;
  for (const SafetensorsHostileCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = dir.write("bad.safetensors", c.file);
    Result<TensorTable> table = read_safetensors_table(path);
    ASSERT_FALSE(table.is_ok());
    EXPECT_EQ(table.message().rfind("invalid safetensors file " + path + ": ", 0), 0u) << table.message();
    EXPECT_NE(table.message().find(c.error), std::string::npos) << table.message();
    CommandRun run = run_command({"contents", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "error: " + table.message() + "\n");
  }
}

std::string write_sharded(const TempDir& dir, const std::string& index_json) {
  dir.write("model-00001-of-00002.safetensors",
            safetensors_file({{"embed.weight", "F32", {2, 2}, counting_bytes(16)},
                              {"layer.0.weight", "F16", {2}, counting_bytes(4)}}));
  dir.write("model-00002-of-00002.safetensors", safetensors_file({{"head.weight", "BF16", {3}, counting_bytes(6)}}));
  return dir.write("model.safetensors.index.json", index_json);
}

const char* kIndex = R"({"metadata":{"total_size":26},"weight_map":{
  "head.weight":"model-00002-of-00002.safetensors",
  "embed.weight":"model-00001-of-00002.safetensors",
  "layer.0.weight":"model-00001-of-00002.safetensors"}})";

TEST(SafetensorsReader, ReadsShardsFromTheIndexOrItsDirectory) {
  TempDir dir;
  std::string index = write_sharded(dir, kIndex);
  for (const std::string& path : {index, dir.path().string()}) {
    Result<TensorTable> table = read_safetensors_table(path);
    ASSERT_TRUE(table.is_ok()) << table.message();
    const auto& tensors = table.value().tensors;
    ASSERT_EQ(tensors.size(), 3u);
    EXPECT_EQ(tensors[0].name, "embed.weight");
    EXPECT_EQ(tensors[1].name, "layer.0.weight");
    EXPECT_EQ(tensors[2].name, "head.weight");
    EXPECT_EQ(tensors[2].data->file, (dir.path() / "model-00002-of-00002.safetensors").string());
    EXPECT_EQ(table.value().metadata, Json({{"total_size", 26}}));
  }
}

TEST(SafetensorsReader, RejectsShardsOutsideTheDirectoryAndMismatchedMaps) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {R"({"weight_map":{"a":"../model-00001-of-00002.safetensors"}})", "is not a plain file name beside the index"},
      {R"({"weight_map":{"a":"sub/model.safetensors"}})", "is not a plain file name beside the index"},
      {R"({"weight_map":{"embed.weight":"model-00001-of-00002.safetensors"}})",
       "holds tensor \"layer.0.weight\" that the weight map does not list there"},
      {R"({"weight_map":{"embed.weight":"model-00001-of-00002.safetensors",
          "layer.0.weight":"model-00001-of-00002.safetensors","missing":"model-00001-of-00002.safetensors"}})",
       "tensor \"missing\" is missing from shard"},
      {R"({"weight_map":{"x":"absent.safetensors"}})", "open "},
      {R"({"weight_map":[]})", "weight_map missing or not an object"},
      {R"({"weight_map":{"a":1}})", "is not a file name"},
  };
  for (const auto& [index_json, error] : cases) {
    SCOPED_TRACE(index_json);
    TempDir dir;
    std::string index = write_sharded(dir, index_json);
    Result<TensorTable> table = read_safetensors_table(index);
    ASSERT_FALSE(table.is_ok());
    EXPECT_NE(table.message().find(error), std::string::npos) << table.message();
  }
}

}  // namespace
}  // namespace tarnwick::testing
