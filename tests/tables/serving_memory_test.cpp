// Serving memory of language-model checkpoints against figures worked out by hand:
// KV bytes per token = layers x (key row + value row), a row being kv_heads x head_dim values of
// the cache type (ggml blocks for q8_0), times context and batch; weights are the tensor bytes.
#include <gtest/gtest.h>

#include "../gguf/gguf_builder.h"
#include "../safetensors/safetensors_builder.h"
#include "base/json_output.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::CommandRun;
using testing::GgufBuilder;
using testing::SafetensorsTensor;

Json profile_of(const std::vector<std::string>& args) {
  std::vector<std::string> command{"profile", "--json"};
  command.insert(command.end(), args.begin(), args.end());
  CommandRun run = testing::run_command(command);
  EXPECT_EQ(run.status, 0) << run.err;
  return Json::parse(run.out, nullptr, false);
}

// A safetensors checkpoint of two small tensors (48 + 16 bytes) beside a Hugging Face config.
std::string checkpoint_with_config(const testing::TempDir& dir, const std::string& folder, const std::string& config) {
  std::filesystem::create_directories(dir.path() / folder);
  dir.write(folder + "/config.json", config);
  return dir.write(folder + "/model.safetensors",
                   testing::safetensors_file({{"model.embed_tokens.weight", "F32", {3, 4}, testing::counting_bytes(48, 1)},
                                              {"lm_head.weight", "F16", {2, 4}, testing::counting_bytes(16, 2)}}));
}

TEST(ServingMemory, FiguresWorkedOutByHand) {
  testing::TempDir dir;
  // Llama-3-8B's shape (grouped-query attention): 32 layers, 32 heads, 8 key/value heads,
  // hidden 4096, so head dim 128; per token 32 x 2 x 8 x 128 x 2 bytes = 131,072.
  std::string gqa = checkpoint_with_config(dir, "gqa",
      R"({"num_hidden_layers": 32, "hidden_size": 4096, "num_attention_heads": 32, "num_key_value_heads": 8,
          "max_position_embeddings": 8192})");
  // Llama-2-7B's (multi-head, no num_key_value_heads): 32 x 2 x 32 x 128 x 2 = 524,288 per token.
  std::string mha = checkpoint_with_config(dir, "mha",
      R"({"num_hidden_layers": 32, "hidden_size": 4096, "num_attention_heads": 32, "max_position_embeddings": 4096})");
  // A stated head_dim overrides hidden / heads (3072 / 16 = 192, stated 256): 28 x 2 x 16 x 256 x 2.
  std::string stated = checkpoint_with_config(dir, "stated",
      R"({"num_hidden_layers": 28, "hidden_size": 3072, "num_attention_heads": 16, "num_key_value_heads": 16,
          "head_dim": 256, "max_position_embeddings": 8192})");
  // GGUF: key and value lengths stated apart (192 and 128): 2 layers x 4 heads x (192 + 128) x 4 bytes (float32).
  GgufBuilder gguf;
  gguf.kv_string("general.architecture", "llama").kv_u32("llama.block_count", 2).kv_u32("llama.embedding_length", 64)
      .kv_u32("llama.attention.head_count", 8).kv_u32("llama.attention.head_count_kv", 4)
      .kv_u32("llama.attention.key_length", 192).kv_u32("llama.attention.value_length", 128)
      .kv_u32("llama.context_length", 2048)
      .tensor("token_embd.weight", {4, 3}, 0, testing::counting_bytes(48, 3));
  std::string split_dims = dir.write("split.gguf", gguf.build());

  struct Case {
    std::vector<std::string> args;
    std::uint64_t per_token, context, cache, total;
  };
  const std::uint64_t weights = 64;
  const Case cases[] = {
      {{gqa}, 131072, 8192, 131072ull * 8192, 131072ull * 8192 + weights},
      {{"--context", "1000", "--batch", "3", gqa}, 131072, 1000, 131072ull * 1000 * 3, 131072ull * 3000 + weights},
      {{mha}, 524288, 4096, 524288ull * 4096, 524288ull * 4096 + weights},
      // q8_0: a row of 32 x 128 = 4096 values is 128 blocks of 34 bytes; x 2 x 32 layers.
      {{"--cache-dtype", "q8_0", mha}, 128ull * 34 * 2 * 32, 4096, 128ull * 34 * 2 * 32 * 4096,
       128ull * 34 * 2 * 32 * 4096 + weights},
      {{stated}, 28ull * 2 * 16 * 256 * 2, 8192, 28ull * 2 * 16 * 256 * 2 * 8192, 28ull * 2 * 16 * 256 * 2 * 8192 + weights},
      {{"--cache-dtype", "float32", split_dims}, 2ull * 4 * (192 + 128) * 4, 2048, 2ull * 4 * 320 * 4 * 2048,
       2ull * 4 * 320 * 4 * 2048 + 48},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back() + " " + std::to_string(c.args.size()));
    Json memory = profile_of(c.args);
    ASSERT_TRUE(memory.is_object());
    EXPECT_EQ(memory["kv_cache_bytes_per_token"], c.per_token);
    EXPECT_EQ(memory["context"], c.context);
    EXPECT_EQ(memory["kv_cache_bytes"], c.cache);
    EXPECT_EQ(memory["total_bytes"], c.total);
    EXPECT_EQ(memory["unknown"], Json::array());
  }
  EXPECT_TRUE(profile_of({mha})["key_value_heads_from_attention_heads"].get<bool>());
}

// The real tiny llama GGUF: 1 layer, 2 heads, 2 key/value heads, hidden 8 (head dim 4), context
// 4096: 1 x 2 x 2 x 4 x 2 = 32 bytes per token, 128 KiB of cache beside 1,026,144 bytes of weights.
TEST(ServingMemory, RealTinyLlama) {
  TARNWICK_REQUIRE_CORPUS("realworld");
  CommandRun run = testing::run_command({"profile", (corpus / "llama-2-tiny-random.gguf").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string out = run.out;
  out.replace(out.find(corpus.string()), corpus.string().size(), "<corpus>");
  testing::expect_golden(out, "tables/tiny_llama.serving.txt");
  Json memory = profile_of({(corpus / "llama-2-tiny-random.gguf").string()});
  EXPECT_EQ(memory["kv_cache_bytes_per_token"], 32u);
  EXPECT_EQ(memory["total_bytes"], 1026144u + 32u * 4096);
}

// What the file does not say is named, and no total is made up.
TEST(ServingMemory, UnknownFiguresGiveNoTotal) {
  testing::TempDir dir;
  std::string bare = dir.write("bare.safetensors",
                               testing::safetensors_file({{"w", "F32", {2, 2}, testing::counting_bytes(16, 1)}}));
  CommandRun run = testing::run_command({"profile", bare});
  ASSERT_EQ(run.status, 0) << run.err;
  testing::expect_golden(testing::with_dir_placeholder(run.out, dir), "tables/bare.serving.txt");
  Json memory = profile_of({"--context", "128", bare});
  EXPECT_TRUE(memory["total_bytes"].is_null());
  EXPECT_EQ(memory["unknown"], (Json{"layers", "key/value heads", "key head dim", "value head dim"}));
}

TEST(ServingMemory, CheckGatesTheNewModel) {
  testing::TempDir dir;
  std::string mha = checkpoint_with_config(dir, "mha",
      R"({"num_hidden_layers": 32, "hidden_size": 4096, "num_attention_heads": 32, "max_position_embeddings": 4096})");
  std::string bare = dir.write("bare.safetensors",
                               testing::safetensors_file({{"w", "F32", {2, 2}, testing::counting_bytes(16, 1)}}));
  std::string onnx_like = dir.write("m.onnx", "");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string expected;  // a line of the report, or the error
  };
  const Case cases[] = {
      {{"--max-serving-memory", "2GiB", "--context", "4096", mha, mha}, 1,
       "  FAIL serving memory: 2048.0 MiB (2147483712) <= 2048.0 MiB (2147483648) (weights 64 B + float16 KV cache "
       "2048.0 MiB at 4096 tokens)\n"},
      {{"--max-serving-memory", "3GiB", mha, mha}, 0,
       "  PASS serving memory: 2048.0 MiB (2147483712) <= 3072.0 MiB (3221225472) (weights 64 B + float16 KV cache "
       "2048.0 MiB at 4096 tokens)\n"},
      {{"--max-serving-memory", "1GB", "--context", "1024", mha, mha}, 0,
       "  PASS serving memory: 512.0 MiB (536870976) <= 953.7 MiB (1000000000) (weights 64 B + float16 KV cache 512.0 "
       "MiB at 1024 tokens)\n"},
      {{"--max-serving-memory", "1GiB", bare, bare}, 1,
       "  FAIL serving memory: unknown (the file does not give: layers, key/value heads, key head dim, value head "
       "dim, context length (give --context N)) <= 1024.0 MiB (1073741824)\n"},
      {{"--max-serving-memory", "1GiB", onnx_like, onnx_like}, 1,
       "error: --max-serving-memory is only supported for safetensors and GGUF checkpoints.\n"},
      {{"--context", "10", mha, mha}, 1, "error: --context goes with --max-serving-memory\n"},
      {{"--max-serving-memory", "lots", mha, mha}, 1,
       "error: --max-serving-memory: a size needs a number of bytes with an optional unit (B, KB, MB, GB, KiB, MiB, "
       "GiB), got `lots`\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> command{"check"};
    command.insert(command.end(), c.args.begin(), c.args.end());
    CommandRun run = testing::run_command(command);
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE((c.expected.starts_with("error:") ? run.err : run.out).find(c.expected), std::string::npos)
        << run.out << run.err;
  }
}

}  // namespace
}  // namespace tarnwick
