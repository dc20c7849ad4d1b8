#include "safetensors/sibling_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "safetensors_builder.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

struct ConfigCase {
  std::string label;
  std::optional<std::string> config;  // the text of config.json; nothing when there is none
  Json expected;
};

TEST(SiblingConfig, ReadsOnlyASmallStrictJsonObject) {
  const std::string valid = R"({"model_type": "llama", "num_hidden_layers": 2})";
  // Just over the cap: a valid object padded with spaces.
  std::string too_large = R"({"model_type": "llama"})";
  too_large += std::string(kSiblingConfigCap + 1 - too_large.size(), ' ');
  std::string at_cap = R"({"model_type": "llama"})";
  at_cap += std::string(kSiblingConfigCap - at_cap.size(), ' ');
  const std::vector<ConfigCase> cases{
      {"absent", std::nullopt, Json()},
      {"valid", valid, Json{{"model_type", "llama"}, {"num_hidden_layers", 2}}},
      {"exactly at the cap", at_cap, Json{{"model_type", "llama"}}},
      {"over the cap", too_large, Json()},
      {"invalid JSON", R"({"model_type": )", Json()},
      {"a key given twice", R"({"vocab_size": 1, "vocab_size": 2})", Json()},
      {"not an object", "[1, 2]", Json()},
      {"empty", "", Json()},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    std::string model = dir.write("model.safetensors", safetensors_file({{"w", "U8", {1}, "x"}}));
    if (c.config) dir.write("config.json", *c.config);
    EXPECT_EQ(read_sibling_config(model), c.expected);
    EXPECT_EQ(read_sibling_config(dir.path().string()), c.expected);  // a checkpoint directory
    EXPECT_EQ(read_sibling_config((dir.path() / "model.safetensors.index.json").string()), c.expected);
  }
}

TEST(SiblingConfig, IgnoresWhatIsNotARegularFile) {
  TempDir dir;
  std::string model = dir.write("model.safetensors", "");
  std::filesystem::create_directory(dir.path() / "config.json");
  EXPECT_EQ(read_sibling_config(model), Json());
  std::filesystem::remove(dir.path() / "config.json");
  // A pipe is never opened: reading it would wait for a writer.
  ASSERT_EQ(::mkfifo((dir.path() / "config.json").c_str(), 0600), 0);
  EXPECT_EQ(read_sibling_config(model), Json());
}

// `contents` of a Hugging Face directory states what the config says and infers the rest.
TEST(SiblingConfig, AddsStatedFiguresToTheContentsReport) {
  TempDir dir;
  std::string model = dir.write(
      "model.safetensors",
      safetensors_file({{"model.embed_tokens.weight", "U8", {10, 4}, std::string(40, '\0')},
                        {"model.layers.0.mlp.up_proj.weight", "U8", {6, 4}, std::string(24, '\0')}}));
  dir.write("config.json", R"({"model_type": "mistral", "num_attention_heads": 2, "num_hidden_layers": 1})");
  CommandRun run = run_command({"contents", model});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string expected =
      "\nArchitecture:\n"
      "  Family:          mistral (stated: config.json model_type)\n"
      "  Layers:          1 (stated: config.json num_hidden_layers)\n"
      "  Hidden size:     4 (inferred: token embedding width)\n"
      "  Vocabulary:      10 (inferred: token embedding rows)\n"
      "  Attention heads: 2 (stated: config.json num_attention_heads)\n"
      "  Key/value heads: unknown\n"
      "  Feed-forward:    6 (inferred: output width of model.layers.0.mlp.up_proj.weight)\n"
      "  Experts:         unknown\n"
      "  Context length:  unknown\n"
      "\nMetadata:\n";
  EXPECT_NE(run.out.find(expected), std::string::npos) << run.out;
  // The JSON document is unchanged by the config.
  CommandRun json = run_command({"contents", "--json", model});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.find("architecture"), std::string::npos);
  EXPECT_EQ(json.out.find("mistral"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::testing
