// Tensor values through the tables and the commands: the reasons a tensor is skipped under
// --stats, the errors of the rules that need values, and whole reports of representative files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "gguf/gguf_builder.h"
#include "safetensors/safetensors_builder.h"
#include "test_support.h"
#include "values/value_passes.h"

namespace tarnwick::testing {
namespace {

// A q8_0 block: half scale d, then 32 signed bytes; value j = qs[j] * d.
std::string q8_0_block(std::uint16_t half_scale, int first) {
  std::string block = gguf_le(half_scale, 2);
  for (int j = 0; j < 32; ++j) block.push_back(static_cast<char>(static_cast<std::int8_t>(first + j)));
  return block;
}

TensorEntry plain(const std::string& name, const std::string& dtype, std::uint64_t numel, TensorBytes bytes) {
  TensorEntry entry;
  entry.name = name;
  entry.dtype = dtype;
  entry.shape = {numel};
  entry.numel = numel;
  entry.bytes = bytes.length;
  entry.data = std::move(bytes);
  return entry;
}

TEST(TensorValues, EachUnreadableTensorIsSkippedWithItsReasonAndTheRestAreRead) {
  TempDir dir;
  std::string file = dir.write("values.bin", floats({1, 2, 3, 4}) + std::string(184, '\0'));  // 200 bytes
  const std::string missing = (dir.path() / "absent.bin").string();

  TensorEntry strided_far = plain("view_past_storage", "float32", 4, {file, 0, 0});
  strided_far.data.reset();
  strided_far.strided = StridedBytes{file, 0, 16, 4, 0, {2, 2}, {4, 1}};
  TensorEntry negative = strided_far;
  negative.name = "view_negative_stride";
  negative.strided->stride = {-1, 1};
  TensorEntry external = plain("external", "float32", 4, {file, 0, 16});
  external.data.reset();
  external.unreadable_reason = "external data file \"w.bin\" not found";
  TensorEntry typed = plain("typed_fields", "int64", 2, {file, 0, 0});
  typed.data.reset();
  typed.element_bytes = std::make_shared<const std::string>(gguf_le(7, 8) + gguf_le(static_cast<std::uint64_t>(-3), 8));

  const std::vector<std::pair<TensorEntry, std::string>> cases{
      {plain("readable", "float32", 4, {file, 0, 16}), ""},
      {plain("past_the_end", "float32", 100, {file, 100, 400}),
       "its bytes (offset 100, 400 bytes) lie outside the file of 200 bytes"},
      {plain("partial_block", "q4_0", 64, {file, 0, 30}), "30 bytes are not a whole number of q4_0 blocks of 18 bytes"},
      {plain("partial_row", "q4_k", 100, {file, 0, 144}), "100 elements are not a whole number of q4_k blocks of 256"},
      {plain("short", "float32", 10, {file, 0, 36}), "it holds 36 bytes where 10 float32 values take 40 bytes"},
      {plain("unknown_code", "unknown(99)", 4, {file, 0, 16}), "dtype unknown(99) is not known"},
      {plain("iq_type", "iq2_xxs", 256, {file, 0, 66}), "values of dtype iq2_xxs are not decoded"},
      {plain("complex", "complex64", 2, {file, 0, 16}), "dtype complex64 holds complex values, which have no order"},
      {plain("torch_quantized", "qint8", 4, {file, 0, 4}),
       "dtype qint8 needs its quantization scale, which the table does not hold"},
      {plain("no_file", "float32", 1, {missing, 0, 4}), "open " + missing + ": No such file or directory"},
      {external, "external data file \"w.bin\" not found"},
      {strided_far, "a strided view that reaches past its storage"},
      {negative, "a negative stride"},
      {typed, ""},
  };
  TensorTable table;
  for (const auto& [entry, reason] : cases) table.tensors.push_back(entry);
  std::vector<StatsOutcome> outcomes = tensor_statistics(table);
  ASSERT_EQ(outcomes.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first.name);
    EXPECT_EQ(outcomes[i].skipped, cases[i].second);
    EXPECT_EQ(outcomes[i].figures.has_value(), cases[i].second.empty());
  }
  ASSERT_TRUE(outcomes[0].figures);
  EXPECT_EQ(outcomes[0].figures->count, 4u);
  EXPECT_DOUBLE_EQ(outcomes[0].figures->mean, 2.5);
  EXPECT_DOUBLE_EQ(outcomes.back().figures->min, -3);
  StatsTotals totals = total_statistics(outcomes);
  EXPECT_EQ(totals.tensors, 2u);
  EXPECT_EQ(totals.skipped, cases.size() - 2);
}

// A float32 tensor stored as a transposed view: its values come in logical order.
TEST(TensorValues, StridedViewsAreReadInLogicalOrder) {
  TempDir dir;
  std::string file = dir.write("storage.bin", floats({1, 2, 3, 4, 5, 6}));
  TensorEntry view = plain("t", "float32", 6, {file, 0, 0});
  view.data.reset();
  view.shape = {3, 2};
  view.strided = StridedBytes{file, 0, 24, 4, 0, {3, 2}, {1, 3}};  // the transpose of a 2x3 storage
  TensorEntry contiguous = plain("c", "float32", 6, {file, 0, 24});
  std::vector<DeltaOutcome> deltas = tensor_deltas({{&contiguous, &view}});
  ASSERT_TRUE(deltas[0].figures) << deltas[0].skipped;
  // [1 2 3 4 5 6] against [1 4 2 5 3 6]: differences 0 2 1 1 2 0.
  EXPECT_DOUBLE_EQ(deltas[0].figures->max_abs, 2);
  EXPECT_DOUBLE_EQ(deltas[0].figures->mean_abs(), 1);
}

TEST(TensorValues, HostileFilesThroughTheCommands) {
  TempDir dir;
  std::string partial_row = dir.write(
      "partial_row.gguf", GgufBuilder().tensor("blk.0.w", {48, 1}, 8, std::string(34 * 2, '\0')).build());
  std::string unknown = dir.write(
      "unknown.gguf", GgufBuilder().tensor("odd", {32}, 99, std::string(64, '\0')).tensor("iq", {256}, 16, std::string(66, '\0')).build());
  std::string truncated = dir.write("truncated.gguf", GgufBuilder().tensor("cut", {64}, 0, std::string(100, '\0')).build());
  std::string plain_file = dir.write("plain.safetensors", safetensors_file({{"w", "F32", {1}, floats({1})}}));
  std::string past_the_end = dir.write("past_the_end.safetensors", safetensors_file({{"w", "F32", {100}, floats({1})}}));
  std::string bad_map = dir.write("bad_map.txt", "# names\nw w2 extra\n");
  std::string twice = dir.write("twice.txt", "w a\nw b\n");
  std::string trees = dir.write("trees.txt", "tree\nversion=v3\nnum_class=1\nmax_feature_idx=0\n\nTree=0\nnum_leaves=1\n"
                                            "leaf_value=0.5\n\nend of trees\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> errors{
      {{"contents", "--stats", partial_row},
       "error: invalid GGUF file " + partial_row + ": tensor \"blk.0.w\": row length 48 is not a multiple of the q8_0 block size 32\n"},
      {{"check", "--fail-on-nonfinite", unknown, unknown},
       "error: --fail-on-nonfinite needs the values of tensor odd, which cannot be read: dtype unknown(99) is not known\n"},
      {{"check", "--max-tensor-change", "-1", unknown, unknown},
       "error: --max-tensor-change must be a number at least 0, such as 0.05; got `-1`\n"},
      {{"check", "--frozen", "*", unknown, unknown},
       "error: --frozen needs the values of tensor odd, which cannot be read: no bytes\n"},
      {{"contents", "--stats", past_the_end},
       "error: invalid safetensors file " + past_the_end + ": tensor \"w\": data_offsets span 4 bytes, but 100 elements of F32 need 400\n"},
      {{"diff", "--contents", "--map", (dir.path() / "absent.txt").string(), plain_file, plain_file},
       "error: --map: read " + (dir.path() / "absent.txt").string() + ": No such file or directory\n"},
      {{"diff", "--contents", "--map", bad_map, plain_file, plain_file},
       "error: --map " + bad_map + " line 2: expected an old name and a new name\n"},
      {{"diff", "--contents", "--map", twice, plain_file, plain_file}, "error: --map " + twice + " line 2: w is mapped twice\n"},
      {{"diff", "--contents", "--map"}, "error: --map needs a file of old-name new-name lines\n"},
      {{"check", "--fail-on-nonfinite", trees, trees},
       "error: --fail-on-nonfinite, --max-tensor-change and --frozen are only supported for tensor checkpoints "
       "(PyTorch, safetensors, GGUF, ONNX, NumPy, TFLite, Keras).\n"},
  };
  for (const auto& [args, error] : errors) {
    CommandRun run = run_command(args);
    EXPECT_EQ(run.status, 1) << args[1];
    EXPECT_EQ(run.err, error);
  }
  CommandRun cut = run_command({"contents", "--stats", truncated});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("\"cut\""), std::string::npos) << cut.err;

  CommandRun listed = run_command({"contents", "--stats", "--json", unknown});
  ASSERT_EQ(listed.status, 0) << listed.err;
  nlohmann::json document = nlohmann::json::parse(listed.out);
  EXPECT_EQ(document["tensors"][0]["skipped"], "dtype unknown(99) is not known");
  EXPECT_EQ(document["tensors"][1]["skipped"], "values of dtype iq2_xxs are not decoded");
  EXPECT_EQ(document["stats"]["tensors_skipped"], 2);
  EXPECT_EQ(document["stats"]["tensors_read"], 0);
}

// A small checkpoint pair, written the same way every time.
struct Pair {
  std::string safetensors, gguf, tuned;
};

Pair write_pair(const TempDir& dir) {
  std::vector<float> weights, tuned;
  for (int i = 0; i < 64; ++i) {
    weights.push_back(static_cast<float>(i - 32) * 0.25f);
    tuned.push_back(static_cast<float>(i - 32) * 0.25f + (i % 3 == 0 ? 0.125f : 0.0f));
  }
  std::vector<float> bias{0.5f, -1.5f, NAN, INFINITY, 0.0f, 2.0f};
  Pair pair;
  pair.safetensors = dir.write("model.safetensors",
                               safetensors_file({{"layer.weight", "F32", {2, 32}, floats(weights)},
                                                 {"layer.bias", "F32", {6}, floats(bias)},
                                                 {"embed", "F32", {4}, floats({1, 2, 3, 4})}}));
  pair.tuned = dir.write("tuned.safetensors",
                         safetensors_file({{"layer.weight", "F32", {2, 32}, floats(tuned)},
                                           {"layer.bias", "F32", {6}, floats({0.5f, -1.5f, 1.0f, 1.0f, 0.0f, 2.0f})},
                                           {"embeddings", "F32", {4}, floats({1, 2, 3, 4})}}));
  // layer.weight as q8_0 (scale 0.25 = half 0x3400: qs -32..31), the embedding as float32.
  pair.gguf = dir.write("model.gguf", GgufBuilder()
                                          .kv_string("general.architecture", "llama")
                                          .tensor("layer.weight", {32, 2}, 8, q8_0_block(0x3400, -32) + q8_0_block(0x3400, 0))
                                          .tensor("embed", {4}, 0, floats({1, 2, 3, 4}))
                                          .build());
  return pair;
}

TEST(TensorValues, WholeReports) {
  TempDir dir;
  Pair pair = write_pair(dir);
  const std::vector<std::pair<std::vector<std::string>, std::string>> reports{
      {{"contents", "--stats", pair.safetensors}, "values/model.safetensors.contents-stats.txt"},
      {{"contents", "--stats", "--json", pair.gguf}, "values/model.gguf.contents-stats.json"},
      {{"diff", "--contents", "--values", "--match-by-content", pair.safetensors, pair.tuned},
       "values/model_vs_tuned.diff-values.txt"},
      {{"diff", "--contents", "--values", "--json", pair.safetensors, pair.gguf}, "values/model_vs_q8_0.diff-values.json"},
  };
  for (const auto& [args, golden] : reports) {
    CommandRun run = run_command(args);
    EXPECT_EQ(run.status, 0) << run.err;
    expect_golden(with_dir_placeholder(run.out, dir), golden);
  }
}

TEST(TensorValues, CheckRulesOnTensorValues) {
  TempDir dir;
  Pair pair = write_pair(dir);
  CommandRun text = run_command({"check", "--fail-on-nonfinite", "--max-tensor-change=0.1", "--frozen", "layer.*",
                                 "--frozen", "embed*", pair.safetensors, pair.tuned});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.err, "error: check failed\n");
  expect_golden(with_dir_placeholder(text.out, dir), "values/model_vs_tuned.check.txt");
  CommandRun json = run_command({"check", "--json", "--fail-on-nonfinite", "--max-tensor-change", "0.5", "--frozen",
                                 "embed", pair.safetensors, pair.safetensors});
  EXPECT_EQ(json.status, 1);  // the bias holds NaN and Inf
  expect_golden(with_dir_placeholder(json.out, dir), "values/model_vs_itself.check.json");
}

}  // namespace
}  // namespace tarnwick::testing
