#include "tables/architecture.h"

#include <gtest/gtest.h>

#include <sstream>

#include "gguf/gguf_architecture.h"
#include "safetensors/sibling_config.h"
#include "test_support.h"

namespace tarnwick {
namespace {

struct NamedShape {
  std::string name;
  std::vector<std::uint64_t> shape;
};

TensorTable table_of(const std::string& format, const std::vector<NamedShape>& tensors, Json metadata = Json::object()) {
  TensorTable table;
  table.path = "model";
  table.format = format;
  table.dims_innermost_first = format == "gguf";
  table.metadata = std::move(metadata);
  for (const NamedShape& tensor : tensors) {
    TensorEntry entry;
    entry.name = tensor.name;
    entry.dtype = "float32";
    entry.shape = tensor.shape;
    table.tensors.push_back(std::move(entry));
  }
  return table;
}

// The same tensors in every block 0..count-1, named `{prefix}.{N}.{rest}`.
void add_blocks(std::vector<NamedShape>& tensors, const std::string& prefix, int count, const std::vector<NamedShape>& block) {
  for (int i = 0; i < count; ++i) {
    for (const NamedShape& tensor : block) tensors.push_back({prefix + "." + std::to_string(i) + "." + tensor.name, tensor.shape});
  }
}

std::vector<NamedShape> llama_tensors(int layers) {
  std::vector<NamedShape> tensors{{"model.embed_tokens.weight", {32000, 4096}}};
  add_blocks(tensors, "model.layers", layers,
             {{"self_attn.q_proj.weight", {4096, 4096}},
              {"self_attn.k_proj.weight", {1024, 4096}},
              {"mlp.gate_proj.weight", {11008, 4096}},
              {"mlp.up_proj.weight", {11008, 4096}},
              {"mlp.down_proj.weight", {4096, 11008}},
              {"input_layernorm.weight", {4096}}});
  tensors.push_back({"model.norm.weight", {4096}});
  tensors.push_back({"lm_head.weight", {32000, 4096}});
  return tensors;
}

std::vector<NamedShape> gguf_llama_tensors() {
  std::vector<NamedShape> tensors{{"token_embd.weight", {4096, 32000}}};
  add_blocks(tensors, "blk", 2,
             {{"attn_q.weight", {4096, 4096}},
              {"ffn_gate.weight", {4096, 11008}},
              {"ffn_up.weight", {4096, 11008}},
              {"ffn_down.weight", {11008, 4096}}});
  tensors.push_back({"output.weight", {4096, 32000}});
  return tensors;
}

const Json kGgufLlamaMetadata = {
    {"general.architecture", "llama"},
    {"llama.block_count", 32},
    {"llama.context_length", 4096},
    {"llama.attention.head_count", 32},
    {"llama.attention.head_count_kv", 8},
    {"tokenizer.ggml.tokens", {{"type", "string"}, {"count", 32000}}},
};

std::string section(const ArchitectureFacts& facts) {
  std::ostringstream out;
  print_architecture(out, facts);
  return out.str();
}

struct ArchitectureCase {
  std::string label;
  TensorTable table;
  Json config;
  std::string expected;
};

std::vector<ArchitectureCase> architecture_cases() {
  std::vector<NamedShape> gpt2{{"transformer.wte.weight", {50257, 768}}, {"transformer.wpe.weight", {1024, 768}}};
  add_blocks(gpt2, "transformer.h", 3,
             {{"attn.c_attn.weight", {768, 2304}}, {"mlp.c_fc.weight", {768, 3072}}, {"mlp.c_proj.weight", {3072, 768}}});

  // nanoGPT: the same names, but c_fc is a Linear [out, in].
  std::vector<NamedShape> nanogpt{{"transformer.wte.weight", {50304, 768}}};
  add_blocks(nanogpt, "transformer.h", 2, {{"mlp.c_fc.weight", {3072, 768}}});
  // Without the embedding nothing tells which side of c_fc is the input.
  std::vector<NamedShape> bare_c_fc;
  add_blocks(bare_c_fc, "h", 2, {{"mlp.c_fc.weight", {768, 3072}}});

  std::vector<NamedShape> bert{{"bert.embeddings.word_embeddings.weight", {30522, 768}},
                               {"bert.embeddings.position_embeddings.weight", {512, 768}},
                               {"bert.embeddings.token_type_embeddings.weight", {2, 768}}};
  add_blocks(bert, "bert.encoder.layer", 4,
             {{"attention.self.query.weight", {768, 768}},
              {"intermediate.dense.weight", {3072, 768}},
              {"output.dense.weight", {768, 3072}}});

  // GPT-NeoX names its embedding `embed_in` and its up projection by its widths.
  std::vector<NamedShape> neox{{"gpt_neox.embed_in.weight", {50304, 512}}};
  add_blocks(neox, "gpt_neox.layers", 6,
             {{"attention.query_key_value.weight", {1536, 512}}, {"mlp.dense_h_to_4h.weight", {2048, 512}}});

  // T5 numbers blocks, then sub-layers inside each; only the outer list counts.
  std::vector<NamedShape> t5;
  add_blocks(t5, "encoder.block", 2,
             {{"layer.0.SelfAttention.q.weight", {512, 512}}, {"layer.1.DenseReluDense.wi.weight", {2048, 512}}});
  add_blocks(t5, "decoder.block", 2, {{"layer.2.DenseReluDense.wi.weight", {2048, 512}}});

  std::vector<NamedShape> mixtral{{"model.embed_tokens.weight", {32000, 4096}}};
  for (int layer = 0; layer < 2; ++layer) {
    std::string block = "model.layers." + std::to_string(layer) + ".block_sparse_moe.";
    mixtral.push_back({block + "gate.weight", {8, 4096}});
    add_blocks(mixtral, block + "experts", 8,
               {{"w1.weight", {14336, 4096}}, {"w2.weight", {4096, 14336}}, {"w3.weight", {14336, 4096}}});
  }

  std::vector<NamedShape> gguf_moe{{"token_embd.weight", {4096, 32000}}};
  add_blocks(gguf_moe, "blk", 2,
             {{"ffn_gate_inp.weight", {4096, 8}},
              {"ffn_gate_exps.weight", {4096, 14336, 8}},
              {"ffn_up_exps.weight", {4096, 14336, 8}},
              {"ffn_down_exps.weight", {14336, 4096, 8}}});

  // Layers 2 and 3 only, as one shard of a larger checkpoint holds them.
  std::vector<NamedShape> shard;
  for (int layer = 2; layer < 4; ++layer) {
    shard.push_back({"model.layers." + std::to_string(layer) + ".mlp.up_proj.weight", {11008, 4096}});
  }
  // Two token embeddings that disagree, and an up projection whose input is not the hidden size.
  std::vector<NamedShape> conflicting{{"encoder.embed_tokens.weight", {100, 16}},
                                      {"decoder.embed_tokens.weight", {200, 16}},
                                      {"layers.0.mlp.up_proj.weight", {64, 16}}};
  std::vector<NamedShape> mismatched{{"model.embed_tokens.weight", {100, 16}},
                                     {"model.layers.0.mlp.up_proj.weight", {64, 32}}};

  const Json llama_config = {{"model_type", "llama"},
                             {"num_hidden_layers", 32},
                             {"hidden_size", 4096},
                             {"vocab_size", 32000},
                             {"num_attention_heads", 32},
                             {"num_key_value_heads", 8},
                             {"intermediate_size", 11008},
                             {"max_position_embeddings", 4096}};
  // Values of the wrong type state nothing; the tensors still tell what they can.
  const Json odd_config = {{"model_type", 7}, {"num_hidden_layers", "32"}, {"hidden_size", -1}, {"vocab_size", 1.5}};

  return {
      {"llama names, no config", table_of("safetensors", llama_tensors(3)), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          3 (inferred: model.layers.N in tensor names)\n"
       "  Hidden size:     4096 (inferred: token embedding width)\n"
       "  Vocabulary:      32000 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    11008 (inferred: output width of model.layers.0.mlp.gate_proj.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"llama names with a config that states more", table_of("safetensors", llama_tensors(3)), llama_config,
       "\nArchitecture:\n"
       "  Family:          llama (stated: config.json model_type)\n"
       "  Layers:          32 (stated: config.json num_hidden_layers)\n"
       "  Hidden size:     4096 (stated: config.json hidden_size)\n"
       "  Vocabulary:      32000 (stated: config.json vocab_size)\n"
       "  Attention heads: 32 (stated: config.json num_attention_heads)\n"
       "  Key/value heads: 8 (stated: config.json num_key_value_heads)\n"
       "  Feed-forward:    11008 (stated: config.json intermediate_size)\n"
       "  Experts:         unknown\n"
       "  Context length:  4096 (stated: config.json max_position_embeddings)\n"},
      {"llama names, a config with values of the wrong type", table_of("pytorch-zip", llama_tensors(2)), odd_config,
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          2 (inferred: model.layers.N in tensor names)\n"
       "  Hidden size:     4096 (inferred: token embedding width)\n"
       "  Vocabulary:      32000 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    11008 (inferred: output width of model.layers.0.mlp.gate_proj.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"GGUF llama: stated beats inferred", table_of("gguf", gguf_llama_tensors(), kGgufLlamaMetadata), Json(),
       "\nArchitecture:\n"
       "  Family:          llama (stated: general.architecture)\n"
       "  Layers:          32 (stated: llama.block_count)\n"
       "  Hidden size:     4096 (inferred: token embedding width)\n"
       "  Vocabulary:      32000 (stated: tokenizer.ggml.tokens)\n"
       "  Attention heads: 32 (stated: llama.attention.head_count)\n"
       "  Key/value heads: 8 (stated: llama.attention.head_count_kv)\n"
       "  Feed-forward:    11008 (inferred: output width of blk.0.ffn_gate.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  4096 (stated: llama.context_length)\n"},
      {"GPT-2 blocks with Conv1D shapes", table_of("safetensors", gpt2), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          3 (inferred: transformer.h.N in tensor names)\n"
       "  Hidden size:     768 (inferred: token embedding width)\n"
       "  Vocabulary:      50257 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    3072 (inferred: output width of transformer.h.0.mlp.c_fc.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  1024 (inferred: position embedding rows)\n"},
      {"nanoGPT blocks with Linear shapes", table_of("pytorch-zip", nanogpt), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          2 (inferred: transformer.h.N in tensor names)\n"
       "  Hidden size:     768 (inferred: token embedding width)\n"
       "  Vocabulary:      50304 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    3072 (inferred: output width of transformer.h.0.mlp.c_fc.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"c_fc without a hidden size", table_of("pytorch-zip", bare_c_fc), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          2 (inferred: h.N in tensor names)\n"
       "  Hidden size:     unknown\n"
       "  Vocabulary:      unknown\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    unknown\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"BERT encoder layers", table_of("pytorch-zip", bert), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          4 (inferred: bert.encoder.layer.N in tensor names)\n"
       "  Hidden size:     768 (inferred: token embedding width)\n"
       "  Vocabulary:      30522 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    3072 (inferred: output width of bert.encoder.layer.0.intermediate.dense.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  512 (inferred: position embedding rows)\n"},
      {"GPT-NeoX layers", table_of("safetensors", neox), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          6 (inferred: gpt_neox.layers.N in tensor names)\n"
       "  Hidden size:     512 (inferred: token embedding width)\n"
       "  Vocabulary:      50304 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    2048 (inferred: output width of gpt_neox.layers.0.mlp.dense_h_to_4h.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"T5 encoder and decoder blocks", table_of("safetensors", t5), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          2 (inferred: encoder.block.N in tensor names)\n"
       "  Hidden size:     unknown\n"
       "  Vocabulary:      unknown\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    2048 (inferred: output width of encoder.block.0.layer.1.DenseReluDense.wi.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"Mixtral experts by name", table_of("safetensors", mixtral), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          2 (inferred: model.layers.N in tensor names)\n"
       "  Hidden size:     4096 (inferred: token embedding width)\n"
       "  Vocabulary:      32000 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    14336 (inferred: output width of model.layers.0.block_sparse_moe.experts.0.w1.weight)\n"
       "  Experts:         8 (inferred: experts.N in tensor names)\n"
       "  Context length:  unknown\n"},
      {"GGUF stacked experts", table_of("gguf", gguf_moe, {{"general.architecture", "llama"}}), Json(),
       "\nArchitecture:\n"
       "  Family:          llama (stated: general.architecture)\n"
       "  Layers:          2 (inferred: blk.N in tensor names)\n"
       "  Hidden size:     4096 (inferred: token embedding width)\n"
       "  Vocabulary:      32000 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    14336 (inferred: output width of blk.0.ffn_gate_exps.weight)\n"
       "  Experts:         8 (inferred: expert dim of ffn_*_exps tensors)\n"
       "  Context length:  unknown\n"},
      {"nothing recognisable", table_of("pytorch-zip", {{"0.weight", {32, 16}}, {"0.bias", {32}}, {"2.weight", {4, 32}}}),
       Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          unknown\n"
       "  Hidden size:     unknown\n"
       "  Vocabulary:      unknown\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    unknown\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"a shard with layers 2 and 3 only", table_of("safetensors", shard), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          unknown\n"
       "  Hidden size:     unknown\n"
       "  Vocabulary:      unknown\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    11008 (inferred: output width of model.layers.2.mlp.up_proj.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"embeddings that disagree", table_of("safetensors", conflicting), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          1 (inferred: layers.N in tensor names)\n"
       "  Hidden size:     unknown\n"
       "  Vocabulary:      unknown\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    64 (inferred: output width of layers.0.mlp.up_proj.weight)\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"an up projection not as wide as the hidden size", table_of("safetensors", mismatched), Json(),
       "\nArchitecture:\n"
       "  Family:          unknown\n"
       "  Layers:          1 (inferred: model.layers.N in tensor names)\n"
       "  Hidden size:     16 (inferred: token embedding width)\n"
       "  Vocabulary:      100 (inferred: token embedding rows)\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    unknown\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
      {"control characters from the file are escaped",
       table_of("gguf", {{"blk.0.a\tb", {4}}}, {{"general.architecture", "ev\nil"}, {"ev\nil.block_count", 1}}), Json(),
       "\nArchitecture:\n"
       "  Family:          ev\\nil (stated: general.architecture)\n"
       "  Layers:          1 (stated: ev\\nil.block_count)\n"
       "  Hidden size:     unknown\n"
       "  Vocabulary:      unknown\n"
       "  Attention heads: unknown\n"
       "  Key/value heads: unknown\n"
       "  Feed-forward:    unknown\n"
       "  Experts:         unknown\n"
       "  Context length:  unknown\n"},
  };
}

// What the table's format states: GGUF keys from a GGUF file, a Hugging Face config otherwise.
ArchitectureFacts stated_by(const TensorTable& table, const Json& config) {
  return table.format == "gguf" ? gguf_stated_architecture(table) : config_stated_architecture(config);
}

TEST(Architecture, InfersFromNamesShapesAndMetadata) {
  for (const ArchitectureCase& c : architecture_cases()) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(section(infer_architecture(c.table, stated_by(c.table, c.config))), c.expected);
  }
}

// GGUF keys are read only from GGUF files: safetensors metadata strings state nothing.
TEST(Architecture, ReadsGgufKeysOnlyFromGguf) {
  TensorTable table = table_of("safetensors", {}, {{"general.architecture", "llama"}, {"llama.block_count", "32"}});
  ArchitectureFacts facts = infer_architecture(table, stated_by(table, Json()));
  EXPECT_FALSE(facts.family);
  EXPECT_FALSE(facts.layers);
}

TEST(Architecture, WritesJsonInFieldOrder) {
  TensorTable gguf = table_of("gguf", gguf_llama_tensors(), kGgufLlamaMetadata);
  ArchitectureFacts facts = infer_architecture(gguf, gguf_stated_architecture(gguf));
  EXPECT_EQ(architecture_json(facts).dump(2),
            R"({
  "family": "llama",
  "layers": {
    "value": 32,
    "source": "stated",
    "evidence": "llama.block_count"
  },
  "hidden_size": {
    "value": 4096,
    "source": "inferred",
    "evidence": "token embedding width"
  },
  "vocabulary": {
    "value": 32000,
    "source": "stated",
    "evidence": "tokenizer.ggml.tokens"
  },
  "attention_heads": {
    "value": 32,
    "source": "stated",
    "evidence": "llama.attention.head_count"
  },
  "key_value_heads": {
    "value": 8,
    "source": "stated",
    "evidence": "llama.attention.head_count_kv"
  },
  "feed_forward_size": {
    "value": 11008,
    "source": "inferred",
    "evidence": "output width of blk.0.ffn_gate.weight"
  },
  "experts": null,
  "context_length": {
    "value": 4096,
    "source": "stated",
    "evidence": "llama.context_length"
  }
})");
  EXPECT_EQ(architecture_json(ArchitectureFacts{}).dump(),
            R"({"family":null,"layers":null,"hidden_size":null,"vocabulary":null,"attention_heads":null,)"
            R"("key_value_heads":null,"feed_forward_size":null,"experts":null,"context_length":null})");
}

// A real training checkpoint: the blocks sit under the "model" state dict.
TEST(ArchitectureCorpus, ContentsOfATrainingCheckpoint) {
  TARNWICK_REQUIRE_CORPUS("pytorch");
  const std::string path = (corpus / "encoder_ckpt.ckpt").string();
  testing::CommandRun run = testing::run_command({"contents", "--limit", "4", path});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string text = run.out;
  text.replace(text.find(corpus.string()), corpus.string().size(), "<corpus>");
  testing::expect_golden(text, "pt/encoder_ckpt.ckpt.contents-limit4.txt");
}

}  // namespace
}  // namespace tarnwick
