// inspect, explain, diff, check and explain-diff of safetensors and GGUF checkpoints, on small
// models written here: whole reports against goldens, and the check gate rule by rule.
#include <gtest/gtest.h>

#include <cstring>

#include "../gguf/gguf_builder.h"
#include "../safetensors/safetensors_builder.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

// A two-layer decoder in the Hugging Face naming: hidden 8, vocabulary 16, feed-forward 12.
std::vector<SafetensorsTensor> llama_tensors(unsigned seed = 0, const std::string& dtype = "F32",
                                             std::uint64_t feed_forward = 12, int layers = 2) {
  std::size_t width = dtype == "F32" ? 4 : 2;
  auto tensor = [&](const std::string& name, std::vector<std::uint64_t> shape) {
    std::uint64_t count = 1;
    for (std::uint64_t dim : shape) count *= dim;
    return SafetensorsTensor{name, dtype, shape, counting_bytes(count * width, seed + static_cast<unsigned>(name.size()))};
  };
  std::vector<SafetensorsTensor> tensors{tensor("model.embed_tokens.weight", {16, 8})};
  for (int layer = 0; layer < layers; ++layer) {
    std::string prefix = "model.layers." + std::to_string(layer) + ".";
    tensors.push_back(tensor(prefix + "self_attn.q_proj.weight", {8, 8}));
    tensors.push_back(tensor(prefix + "self_attn.k_proj.weight", {4, 8}));
    tensors.push_back(tensor(prefix + "mlp.up_proj.weight", {feed_forward, 8}));
    tensors.push_back(tensor(prefix + "mlp.down_proj.weight", {8, feed_forward}));
  }
  tensors.push_back(tensor("model.norm.weight", {8}));
  tensors.push_back(tensor("lm_head.weight", {16, 8}));
  return tensors;
}

const nlohmann::ordered_json kMetadata = {{"format", "pt"}};

struct GgufModel {
  std::string tokens_prefix = "t";
  std::uint32_t tensor_type = 0;  // f32; 1 for f16
  unsigned seed = 0;
};

std::string gguf_llama(const GgufModel& model = {}) {
  GgufBuilder builder;
  builder.kv_string("general.architecture", "llama").kv_string("general.name", "tiny llama");
  builder.kv_u32("llama.block_count", 2).kv_u32("llama.embedding_length", 32).kv_u32("llama.context_length", 64);
  builder.kv_u32("llama.attention.head_count", 4).kv_u32("llama.attention.head_count_kv", 2);
  builder.kv_u32("llama.feed_forward_length", 48).kv_u32("general.file_type", model.tensor_type);
  builder.kv_string("tokenizer.ggml.model", "llama");
  std::string tokens;
  for (int i = 0; i < 20; ++i) tokens += builder.str(model.tokens_prefix + std::to_string(i));
  builder.kv("tokenizer.ggml.tokens", 9, builder.array(8, 20, tokens));
  std::size_t width = model.tensor_type == 0 ? 4 : 2;
  auto add = [&](const std::string& name, std::vector<std::uint64_t> dims) {
    std::uint64_t count = 1;
    for (std::uint64_t dim : dims) count *= dim;
    builder.tensor(name, dims, model.tensor_type, counting_bytes(count * width, model.seed + static_cast<unsigned>(name.size())));
  };
  add("token_embd.weight", {32, 20});  // stored order: hidden first
  for (int layer = 0; layer < 2; ++layer) {
    std::string prefix = "blk." + std::to_string(layer) + ".";
    add(prefix + "attn_q.weight", {32, 32});
    add(prefix + "ffn_up.weight", {32, 48});
  }
  add("output_norm.weight", {32});
  return builder.build();
}

struct Fixtures {
  TempDir dir;
  std::string base, retrained, wider, half, deeper, relabelled;
  std::string gguf, gguf_f16, gguf_tokens;
  Fixtures() {
    base = dir.write("base.safetensors", safetensors_file(llama_tensors(), kMetadata));
    retrained = dir.write("retrained.safetensors", safetensors_file(llama_tensors(7), kMetadata));
    wider = dir.write("wider.safetensors", safetensors_file(llama_tensors(0, "F32", 16), kMetadata));
    half = dir.write("half.safetensors", safetensors_file(llama_tensors(0, "F16"), kMetadata));
    deeper = dir.write("deeper.safetensors", safetensors_file(llama_tensors(0, "F32", 12, 3), kMetadata));
    relabelled = dir.write("relabelled.safetensors", safetensors_file(llama_tensors(), {{"format", "mlx"}}));
    gguf = dir.write("tiny.gguf", gguf_llama());
    gguf_f16 = dir.write("tiny-f16.gguf", gguf_llama({"t", 1, 0}));
    gguf_tokens = dir.write("tiny-tokens.gguf", gguf_llama({"u", 0, 0}));
  }
};

TEST(TensorFileCommands, WholeReportsOfSmallModels) {
  Fixtures f;
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
      {{"inspect", f.base}, "tables/llama.safetensors.inspect.txt"},
      {{"inspect", "--limit", "3", f.base}, "tables/llama.safetensors.inspect-limit3.txt"},
      {{"inspect", "--json", f.base}, "tables/llama.safetensors.inspect.json"},
      {{"explain", f.base}, "tables/llama.safetensors.explain.txt"},
      {{"diff", f.base, f.wider}, "tables/llama_vs_wider.safetensors.diff.txt"},
      {{"diff", "--json", f.base, f.deeper}, "tables/llama_vs_deeper.safetensors.diff.json"},
      {{"explain-diff", f.base, f.retrained}, "tables/llama_vs_retrained.safetensors.explain-diff.txt"},
      {{"explain-diff", f.base, f.half}, "tables/llama_vs_half.safetensors.explain-diff.txt"},
      {{"explain-diff", f.base, f.deeper}, "tables/llama_vs_deeper.safetensors.explain-diff.txt"},
      {{"inspect", f.gguf}, "tables/llama.gguf.inspect.txt"},
      {{"inspect", "--json", f.gguf}, "tables/llama.gguf.inspect.json"},
      {{"explain", f.gguf}, "tables/llama.gguf.explain.txt"},
      {{"diff", f.gguf, f.gguf_tokens}, "tables/llama_vs_tokens.gguf.diff.txt"},
      {{"explain-diff", f.gguf, f.gguf_f16}, "tables/llama_vs_f16.gguf.explain-diff.txt"},
  };
  for (const auto& [args, golden] : runs) {
    SCOPED_TRACE(golden);
    CommandRun run = run_command(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    expect_golden(with_dir_placeholder(run.out, f.dir), golden);
  }
}

// Each rule on a pair that passes and a pair that fails, as a pipeline sees it: the status,
// the report's verdict line, and nothing but one error line on stderr.
TEST(TensorFileCommands, CheckGateRuleByRule) {
  Fixtures f;
  struct Case {
    std::vector<std::string> options;
    std::string old_path, new_path;
    int status;
    std::string check_line;
  };
  const std::vector<Case> cases{
      {{"--max-size-growth", "0%"}, f.base, f.retrained, 0, "  PASS file size growth: 0.00% <= 0.00% (4400 -> 4400)"},
      {{"--max-size-growth", "10%"}, f.base, f.deeper, 1, "  FAIL file size growth: 35.09% <= 10.00% (4400 -> 5944)"},
      {{"--max-parameter-growth", "0"}, f.base, f.half, 0, "  PASS parameter growth: 0.00% <= 0.00% (840 -> 840)"},
      {{"--max-parameter-growth", "15%"}, f.base, f.wider, 1, "  FAIL parameter growth: 15.24% <= 15.00% (840 -> 968)"},
      {{"--fail-on-feature-change"}, f.base, f.retrained, 0, "  PASS tensor names unchanged: 11 -> 11 tensor names (same set)"},
      {{"--fail-on-feature-change"}, f.base, f.deeper, 1,
       "  FAIL tensor names unchanged: 11 -> 15 tensor names (+4 added, -0 removed)"},
      {{"--fail-on-training-config-change"}, f.base, f.half, 0, "  PASS metadata unchanged: 1 -> 1 keys (same)"},
      {{"--fail-on-training-config-change"}, f.base, f.relabelled, 1,
       "  FAIL metadata unchanged: 1 -> 1 keys (changed: format)"},
      {{"--fail-on-training-config-change"}, f.gguf, f.gguf_tokens, 1,
       "  FAIL metadata unchanged: 11 -> 11 keys (changed: tokenizer.ggml.tokens)"},
      {{"--fail-on-feature-change", "--max-parameter-growth", "0%"}, f.gguf, f.gguf_f16, 0,
       "  PASS parameter growth: 0.00% <= 0.00% (5792 -> 5792)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"check"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.old_path);
    args.push_back(c.new_path);
    SCOPED_TRACE(c.check_line);
    CommandRun run = run_command(args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.out.find("\n" + c.check_line + "\n"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with(c.status == 0 ? "\nStatus: PASS\n" : "\nStatus: FAIL\n")) << run.out;
    EXPECT_EQ(run.err, c.status == 0 ? "" : "error: check failed\n");
  }
}

TEST(TensorFileCommands, CheckRefusesOnnxOnlyRulesAsForOtherKinds) {
  Fixtures f;
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals{
      {{"--max-ops-growth", "5%"}, "error: --max-ops-growth is only supported for ONNX artifacts.\n"},
      {{"--fail-on-new-op"}, "error: --fail-on-new-op is only supported for ONNX artifacts.\n"},
  };
  for (const std::string& path : {f.base, f.gguf}) {
    for (const auto& [options, message] : refusals) {
      std::vector<std::string> args{"check"};
      args.insert(args.end(), options.begin(), options.end());
      args.push_back(path);
      args.push_back(path);
      CommandRun run = run_command(args);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, message);
    }
  }
  CommandRun mixed = run_command({"check", f.base, f.gguf});
  EXPECT_EQ(mixed.err, "error: cannot check different or unsupported artifact types: safetensors vs GGUF\n");
}

}  // namespace
}  // namespace tarnwick::testing
