#include "safetensors/sibling_config.h"

#include <filesystem>
#include <system_error>

#include "base/positioned_file.h"
#include "tables/strict_json.h"

namespace tarnwick {

namespace fs = std::filesystem;

Json read_sibling_config(const std::string& checkpoint_path) {
  std::error_code error;
  fs::path checkpoint(checkpoint_path);
  fs::path directory = fs::is_directory(checkpoint, error) ? checkpoint : checkpoint.parent_path();
  fs::path config = directory / "config.json";
  // Only a regular file of known size: a pipe or device named config.json is not read at all.
  if (!fs::is_regular_file(config, error)) return Json();
  std::uintmax_t size = fs::file_size(config, error);
  if (error || size > kSiblingConfigCap) return Json();
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(config.string());
  if (!opened.is_ok() || opened.value()->size() > kSiblingConfigCap) return Json();
  Result<std::string> text = opened.value()->read_at(0, opened.value()->size());
  if (!text.is_ok()) return Json();
  Result<OrderedJson> parsed = parse_strict_json(text.value());
  if (!parsed.is_ok() || !parsed.value().is_object()) return Json();
  return Json(parsed.value());
}

namespace {

std::optional<ArchitectureFigure> stated_by_config(const Json& config, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    if (auto figure = stated_figure(config, key, std::string("config.json ") + key)) return figure;
  }
  return std::nullopt;
}

}  // namespace

ArchitectureFacts config_stated_architecture(const Json& config) {
  ArchitectureFacts facts;
  if (!config.is_object()) return facts;
  auto model_type = config.find("model_type");
  if (!facts.family && model_type != config.end() && model_type->is_string()) {
    facts.family = model_type->get<std::string>();
    facts.family_evidence = "config.json model_type";
  }
  keep_first(facts.layers, stated_by_config(config, {"num_hidden_layers", "n_layer", "num_layers"}));
  keep_first(facts.hidden_size, stated_by_config(config, {"hidden_size", "n_embd", "d_model"}));
  keep_first(facts.vocabulary, stated_by_config(config, {"vocab_size"}));
  keep_first(facts.attention_heads, stated_by_config(config, {"num_attention_heads", "n_head", "num_heads"}));
  keep_first(facts.key_value_heads, stated_by_config(config, {"num_key_value_heads"}));
  keep_first(facts.feed_forward_size, stated_by_config(config, {"intermediate_size", "n_inner", "d_ff"}));
  keep_first(facts.experts, stated_by_config(config, {"num_local_experts", "num_experts"}));
  keep_first(facts.context_length, stated_by_config(config, {"max_position_embeddings", "n_positions"}));
  return facts;
}

Json safetensors_sidecar_config(const TensorTable& table) { return read_sibling_config(table.path); }

HeadDims safetensors_head_dims(const TensorTable& table) {
  Json config = read_sibling_config(table.path);
  HeadDims dims;
  if (!config.is_object()) return dims;
  dims.key = stated_by_config(config, {"head_dim"});
  dims.value = dims.key;
  return dims;
}

ArchitectureFacts safetensors_stated_architecture(const TensorTable& table) {
  return config_stated_architecture(read_sibling_config(table.path));
}

}  // namespace tarnwick
