// What a tensor table says about the network it holds: layer count, widths, vocabulary, heads,
// experts. Figures come from metadata (stated) or from tensor names and shapes (inferred); a
// figure that neither supports stays unknown rather than guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "base/json_output.h"
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

// `stated` holds what the format's metadata (or a config beside the checkpoint) says; the figures
// it leaves unknown are inferred from the tensor names and shapes where they allow it.
ArchitectureFacts infer_architecture(const TensorTable& table, ArchitectureFacts stated = {});

// For the formats' stated figures: a non-negative whole number, the figure of `key` in `object`
// (with `evidence` as its source), and the first figure found for a slot.
std::optional<std::uint64_t> whole_number(const Json& value);
std::optional<ArchitectureFigure> stated_figure(const Json& object, const std::string& key, const std::string& evidence);
void keep_first(std::optional<ArchitectureFigure>& slot, std::optional<ArchitectureFigure> figure);
// One figure as the reports show it: "32 (stated: llama.block_count)", or "unknown"; in JSON
// {"value", "source", "evidence"} or null.
std::string figure_text(const std::optional<ArchitectureFigure>& figure);
OrderedJson figure_json(const std::optional<ArchitectureFigure>& figure);
// The "Architecture:" section of a text report, led by a blank line.
void print_architecture(std::ostream& out, const ArchitectureFacts& facts);
OrderedJson architecture_json(const ArchitectureFacts& facts);

}  // namespace tarnwick
