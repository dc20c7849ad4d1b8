// What a tensor table says about the network it holds: layer count, widths, vocabulary, heads,
// experts. Figures come from metadata (stated) or from tensor names and shapes (inferred); a
// figure that neither supports stays unknown rather than guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "main/json_output.h"
#include "tables/tensor_table.h"

namespace tarnwick {

struct ArchitectureFigure {
  std::uint64_t value = 0;
  bool stated = false;   // true: a metadata key says so; false: inferred from tensor names/shapes
  std::string evidence;  // the metadata key (e.g. "llama.block_count"), or a short phrase saying how it was inferred
};

struct ArchitectureFacts {
  std::optional<std::string> family;  // e.g. GGUF general.architecture, or a config's model_type; absent when unknown
  std::optional<ArchitectureFigure> layers, hidden_size, vocabulary, attention_heads, key_value_heads,
      feed_forward_size, experts, context_length;
  std::string family_evidence;  // the key the family was read from, when there is one
};

// `config` is an optional parsed Hugging Face config.json (object) found beside a checkpoint;
// null Json when none.
ArchitectureFacts infer_architecture(const TensorTable& table, const Json& config = Json());
// The "Architecture:" section of a text report, led by a blank line.
void print_architecture(std::ostream& out, const ArchitectureFacts& facts);
OrderedJson architecture_json(const ArchitectureFacts& facts);

}  // namespace tarnwick
