#include "gguf/gguf_highlights.h"

#include <array>
#include <string_view>

namespace tarnwick {

namespace {

constexpr std::array<std::string_view, 33> kFileTypes = {
    "ALL_F32",        "MOSTLY_F16",     "MOSTLY_Q4_0",    "MOSTLY_Q4_1",    "MOSTLY_Q4_1_SOME_F16",
    "",               "",               "MOSTLY_Q8_0",    "MOSTLY_Q5_0",    "MOSTLY_Q5_1",
    "MOSTLY_Q2_K",    "MOSTLY_Q3_K_S",  "MOSTLY_Q3_K_M",  "MOSTLY_Q3_K_L",  "MOSTLY_Q4_K_S",
    "MOSTLY_Q4_K_M",  "MOSTLY_Q5_K_S",  "MOSTLY_Q5_K_M",  "MOSTLY_Q6_K",    "MOSTLY_IQ2_XXS",
    "MOSTLY_IQ2_XS",  "MOSTLY_Q2_K_S",  "MOSTLY_IQ3_XS",  "MOSTLY_IQ3_XXS", "MOSTLY_IQ1_S",
    "MOSTLY_IQ4_NL",  "MOSTLY_IQ3_S",   "MOSTLY_IQ3_M",   "MOSTLY_IQ2_S",   "MOSTLY_IQ2_M",
    "MOSTLY_IQ4_XS",  "MOSTLY_IQ1_M",   "MOSTLY_BF16",
};

std::string value_text(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  // A long array, summarised by the reader.
  if (value.is_object() && value.contains("count") && value.contains("type")) {
    return "array of " + value["count"].dump() + " " +
           (value["type"].is_string() ? value["type"].get<std::string>() : value["type"].dump()) + " values";
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string gguf_file_type_text(std::uint64_t code) {
  if (code < kFileTypes.size() && !kFileTypes[code].empty()) {
    return std::string(kFileTypes[code]) + " (" + std::to_string(code) + ")";
  }
  return "unknown(" + std::to_string(code) + ")";
}

std::vector<MetadataHighlight> gguf_highlights(const Json& metadata) {
  std::string architecture;
  if (auto found = metadata.find("general.architecture"); found != metadata.end() && found->is_string()) {
    architecture = found->get<std::string>();
  }
  struct Wanted {
    const char* label;
    std::string key;
  };
  const Wanted wanted[] = {
      {"Architecture", "general.architecture"},
      {"Name", "general.name"},
      {"Context length", architecture + ".context_length"},
      {"Embedding length", architecture + ".embedding_length"},
      {"Block count", architecture + ".block_count"},
      {"Attention heads", architecture + ".attention.head_count"},
      {"Key/value heads", architecture + ".attention.head_count_kv"},
      {"Experts", architecture + ".expert_count"},
      {"File type", "general.file_type"},
      {"Quantization version", "general.quantization_version"},
      {"Tokenizer", "tokenizer.ggml.model"},
  };
  std::vector<MetadataHighlight> highlights;
  for (const Wanted& item : wanted) {
    if (architecture.empty() && item.key.starts_with('.')) continue;
    auto found = metadata.find(item.key);
    if (found == metadata.end()) continue;
    std::string text = item.key == "general.file_type" && found->is_number_unsigned()
                           ? gguf_file_type_text(found->get<std::uint64_t>())
                           : value_text(*found);
    highlights.push_back({item.label, item.key, std::move(text)});
  }
  return highlights;
}

}  // namespace tarnwick
