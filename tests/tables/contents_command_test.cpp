#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "../gguf/gguf_builder.h"
#include "../onnx/proto_builder.h"
#include "../safetensors/safetensors_builder.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

std::vector<SafetensorsTensor> small_model() {
  return {{"embed.weight", "F32", {4, 2}, floats({1, 2, 3, 4, 5, 6, 7, 8})},
          {"layers.0.attn.bias", "F16", {2}, counting_bytes(4)},
          {"layers.0.scale", "BF16", {}, counting_bytes(2)},
          {"layers.0.mask", "BOOL", {3}, counting_bytes(3)},
          {"empty", "I64", {0, 3}, ""},
          {"name\twith\ncontrols", "U8", {1}, "x"}};
}

const nlohmann::ordered_json kMetadataWithLineBreak = {{"format", "pt"}, {"note", "line\nbreak"}};

TEST(ContentsCommand, ReportsASafetensorsFileInTextAndJson) {
  TempDir dir;
  std::string path = dir.write("small.safetensors", safetensors_file(small_model(), kMetadataWithLineBreak));
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
      {{"contents", path}, "tables/small.contents.txt"},
      {{"contents", "--limit", "2", path}, "tables/small.contents-limit2.txt"},
      {{"contents", "--json", "--limit", "2", path}, "tables/small.contents.json"},
  };
  for (const auto& [args, golden] : runs) {
    CommandRun run = run_command(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    expect_golden(with_dir_placeholder(run.out, dir), golden);
  }
}

TEST(ContentsCommand, ReportsAGgufFile) {
  GgufBuilder builder;
  builder.kv_string("general.architecture", "llama").kv_u32("llama.block_count", 2);
  std::string tokens;
  for (int i = 0; i < 20; ++i) tokens += builder.str("t" + std::to_string(i));
  builder.kv("tokenizer.ggml.tokens", 9, builder.array(8, 20, tokens));
  builder.tensor("token_embd.weight", {64, 2}, 8, std::string(2 * 2 * 34, '\x02'));
  builder.tensor("output_norm.weight", {64}, 0, floats(std::vector<float>(64, 1.0f)));
  TempDir dir;
  std::string path = dir.write("tiny.gguf", builder.build());
  CommandRun text = run_command({"contents", path});
  ASSERT_EQ(text.status, 0) << text.err;
  expect_golden(with_dir_placeholder(text.out, dir), "tables/tiny.gguf.contents.txt");
  CommandRun json = run_command({"contents", "--json", path});
  ASSERT_EQ(json.status, 0) << json.err;
  expect_golden(with_dir_placeholder(json.out, dir), "tables/tiny.gguf.contents.json");
}

TEST(ContentsCommand, DiffsTensorByTensor) {
  std::vector<SafetensorsTensor> changed = small_model();
  changed[0].bytes = floats({1, 2, 3, 4, 5, 6, 7, 9});                       // values
  changed[1] = {"layers.0.attn.bias", "F32", {2}, floats({1, 2})};           // dtype
  changed[2] = {"layers.0.scale", "BF16", {1}, counting_bytes(2)};           // shape
  changed.erase(changed.begin() + 3);                                        // removed mask
  changed.push_back({"layers.1.scale", "F64", {}, counting_bytes(8)});      // added
  TempDir dir;
  std::string old_path = dir.write("old.safetensors", safetensors_file(small_model(), kMetadataWithLineBreak));
  std::string new_path = dir.write("new.safetensors", safetensors_file(changed));
  CommandRun text = run_command({"diff", "--contents", old_path, new_path});
  ASSERT_EQ(text.status, 0) << text.err;
  expect_golden(with_dir_placeholder(text.out, dir), "tables/small.diff-contents.txt");
  CommandRun json = run_command({"diff", "--json", "--contents", old_path, new_path});
  ASSERT_EQ(json.status, 0) << json.err;
  expect_golden(with_dir_placeholder(json.out, dir), "tables/small.diff-contents.json");

  CommandRun same = run_command({"diff", "--contents", "--json", old_path, old_path});
  ASSERT_EQ(same.status, 0) << same.err;
  nlohmann::json document = nlohmann::json::parse(same.out);
  EXPECT_EQ(document["unchanged_count"], 6);
  EXPECT_TRUE(document["changed"].empty());
}

// The same float32 values as safetensors bytes, ONNX raw_data, ONNX float_data and GGUF data.
TEST(ContentsCommand, SameTensorsInDifferentFormatsShowNoChange) {
  std::vector<float> values{0.5f, -1.25f, 3.0f, 7.75f};
  std::string bytes = floats(values);
  TempDir dir;
  std::string safetensors = dir.write("w.safetensors", safetensors_file({{"w", "F32", {4}, bytes},
                                                                          {"n", "I64", {2}, std::string("\x05\0\0\0\0\0\0\0\xfb\xff\xff\xff\xff\xff\xff\xff", 16)}}));
  Message typed;
  typed.add_varint(1, 4).add_varint(2, 1).add_bytes(8, "w").add_bytes(4, bytes);  // packed float_data
  Message int64s;
  int64s.add_varint(1, 2).add_varint(2, 7).add_bytes(8, "n").add_varint(7, 5).add_varint(7, static_cast<std::uint64_t>(-5));
  Message graph;
  graph.add_message(5, typed).add_message(5, int64s);
  std::string onnx_typed = dir.write("typed.onnx", model(graph));
  Message raw_graph;
  raw_graph.add_message(5, initializer("w", {4}, 1, bytes))
      .add_message(5, initializer("n", {2}, 7, std::string("\x05\0\0\0\0\0\0\0\xfb\xff\xff\xff\xff\xff\xff\xff", 16)));
  std::string onnx_raw = dir.write("raw.onnx", model(raw_graph));
  GgufBuilder gguf;
  gguf.tensor("w", {4}, 0, bytes).tensor("n", {2}, 27, std::string("\x05\0\0\0\0\0\0\0\xfb\xff\xff\xff\xff\xff\xff\xff", 16));
  std::string gguf_path = dir.write("w.gguf", gguf.build());
  for (const std::string& other : {onnx_typed, onnx_raw, gguf_path}) {
    SCOPED_TRACE(other);
    CommandRun run = run_command({"diff", "--contents", "--json", safetensors, other});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json document = nlohmann::json::parse(run.out);
    EXPECT_EQ(document["unchanged_count"], 2) << run.out;
    EXPECT_TRUE(document["changed"].empty()) << run.out;
  }
}

std::uint64_t bytes_read_so_far() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// 32 MiB of tensor data behind small headers: `contents` reads the headers, not the data.
TEST(ContentsCommand, ReadsHeadersNotTensorData) {
  if (bytes_read_so_far() == 0) GTEST_SKIP() << "/proc/self/io is not available";
  const std::string data(32u << 20, '\x07');
  TempDir dir;
  std::string safetensors = dir.write("big.safetensors", safetensors_file({{"w", "U8", {data.size()}, data}}));
  GgufBuilder gguf;
  gguf.kv_string("general.architecture", "llama").tensor("w", {data.size()}, 24, data);
  std::string gguf_path = dir.write("big.gguf", gguf.build());
  for (const std::string& path : {safetensors, gguf_path}) {
    SCOPED_TRACE(path);
    std::uint64_t before = bytes_read_so_far();
    CommandRun run = run_command({"contents", "--json", path});
    std::uint64_t read = bytes_read_so_far() - before;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LT(read, 2u << 20);  // at most one header window
  }
  // The diff hashes every byte: one changed byte at the very end is found.
  std::string changed = data;
  changed.back() = '\x08';
  std::string other = dir.write("other.safetensors", safetensors_file({{"w", "U8", {data.size()}, changed}}));
  CommandRun diff = run_command({"diff", "--contents", "--json", safetensors, other});
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_EQ(nlohmann::json::parse(diff.out)["changed"][0]["what"], nlohmann::json::array({"values"}));
}

TEST(ContentsCommand, RefusesWhatItCannotRead) {
  TempDir dir;
  std::string plan = dir.write("plan.json", "{}");
  std::string text = dir.write("notes.txt", "hello");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"contents"}, "error: usage: tarnwick contents [--json] [--limit N] <model>\n"},
      {{"contents", plan}, "error: unsupported artifact type for `" + plan +
                               "`. Try .pt/.pth, .safetensors, .gguf, .onnx, .cbm, or .lgb.\n"},
      {{"contents", "--limit", "x", text}, "error: parse --limit: invalid digit found in string\n"},
      {{"diff", "--contents", text, text}, "error: cannot diff different or unsupported artifact types: unknown vs unknown\n"},
      {{"diff", "--contents", plan}, "error: usage: tarnwick diff --contents [--json] [--limit N] <old-model> <new-model>\n"},
  };
  for (const auto& [args, error] : cases) {
    CommandRun run = run_command(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, error);
  }
}

}  // namespace
}  // namespace tarnwick::testing
