#include "gguf/gguf_architecture.h"

namespace tarnwick {

namespace {

// The length of the vocabulary array; the GGUF reader keeps long arrays as {"type", "count"}.
std::optional<ArchitectureFigure> stated_token_count(const Json& metadata) {
  static const std::string kKey = "tokenizer.ggml.tokens";
  auto found = metadata.find(kKey);
  if (found == metadata.end()) return std::nullopt;
  if (found->is_array()) return ArchitectureFigure{found->size(), true, kKey};
  if (found->is_object() && found->contains("count")) {
    if (std::optional<std::uint64_t> count = whole_number((*found)["count"])) return ArchitectureFigure{*count, true, kKey};
  }
  return std::nullopt;
}


void state_from_gguf(ArchitectureFacts& facts, const Json& metadata) {
  auto architecture = metadata.find("general.architecture");
  if (architecture == metadata.end() || !architecture->is_string()) return;
  const std::string arch = architecture->get<std::string>();
  facts.family = arch;
  facts.family_evidence = "general.architecture";
  auto key = [&](const char* suffix) {
    std::string name = arch + "." + suffix;
    return stated_figure(metadata, name, name);
  };
  keep_first(facts.layers, key("block_count"));
  keep_first(facts.hidden_size, key("embedding_length"));
  keep_first(facts.vocabulary, key("vocab_size"));
  keep_first(facts.vocabulary, stated_token_count(metadata));
  keep_first(facts.attention_heads, key("attention.head_count"));
  keep_first(facts.key_value_heads, key("attention.head_count_kv"));
  keep_first(facts.feed_forward_size, key("feed_forward_length"));
  keep_first(facts.experts, key("expert_count"));
  keep_first(facts.context_length, key("context_length"));
}

}  // namespace

ArchitectureFacts gguf_stated_architecture(const TensorTable& table) {
  ArchitectureFacts facts;
  if (table.metadata.is_object()) state_from_gguf(facts, table.metadata);
  return facts;
}

HeadDims gguf_head_dims(const TensorTable& table) {
  HeadDims dims;
  auto architecture = table.metadata.find("general.architecture");
  if (architecture == table.metadata.end() || !architecture->is_string()) return dims;
  const std::string arch = architecture->get<std::string>();
  dims.key = stated_figure(table.metadata, arch + ".attention.key_length", arch + ".attention.key_length");
  dims.value = stated_figure(table.metadata, arch + ".attention.value_length", arch + ".attention.value_length");
  return dims;
}

}  // namespace tarnwick
