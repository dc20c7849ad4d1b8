#include "tables/architecture.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace tarnwick {

std::optional<std::uint64_t> whole_number(const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(value.get<std::int64_t>());
  }
  return std::nullopt;
}

std::optional<ArchitectureFigure> stated_figure(const Json& object, const std::string& key, const std::string& evidence) {
  if (!object.is_object()) return std::nullopt;
  auto found = object.find(key);
  if (found == object.end()) return std::nullopt;
  std::optional<std::uint64_t> value = whole_number(*found);
  if (!value) return std::nullopt;
  return ArchitectureFigure{*value, true, evidence};
}

void keep_first(std::optional<ArchitectureFigure>& slot, std::optional<ArchitectureFigure> figure) {
  if (!slot && figure) slot = std::move(figure);
}

namespace {



// ---- Inferred figures: tensor names and shapes ----------------------------------------------

std::vector<std::string_view> components(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = name.find('.', start);
    parts.push_back(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

std::string join(const std::vector<std::string_view>& parts, std::size_t begin, std::size_t end) {
  std::string text;
  for (std::size_t i = begin; i < end; ++i) {
    if (i > begin) text += '.';
    text += parts[i];
  }
  return text;
}

// A block or expert number: plain decimal digits, small enough to be one.
std::optional<std::uint64_t> index_component(std::string_view part) {
  if (part.empty() || part.size() > 9) return std::nullopt;
  if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  return std::stoull(std::string(part));
}

// max + 1 when the numbers are exactly 0..max; a partial set (one shard of a checkpoint, say)
// does not tell how many there are.
std::optional<std::uint64_t> complete_count(const std::set<std::uint64_t>& indexes) {
  if (indexes.empty() || *indexes.rbegin() + 1 != indexes.size()) return std::nullopt;
  return indexes.size();
}

bool is_block_list_name(std::string_view part) {
  return part == "layers" || part == "layer" || part == "blk" || part == "h" || part == "block";
}

// One numbered list of blocks, such as `model.layers.N` or `blk.N`.
struct BlockStack {
  std::string prefix;  // the name up to and including the list's own component
  std::uint64_t tensors = 0;
  std::set<std::uint64_t> indexes;
  std::size_t first_seen = 0;
};

struct BlockMember {
  std::string prefix;
  std::uint64_t index = 0;
  std::string rest;  // the name after `prefix.N.`
};

// The outermost numbered block list a tensor name belongs to.
std::optional<BlockMember> block_member(const std::string& name) {
  std::vector<std::string_view> parts = components(name);
  for (std::size_t i = 0; i + 2 < parts.size(); ++i) {
    if (!is_block_list_name(parts[i])) continue;
    std::optional<std::uint64_t> index = index_component(parts[i + 1]);
    if (index) return BlockMember{join(parts, 0, i + 1), *index, join(parts, i + 2, parts.size())};
  }
  return std::nullopt;
}

// The stack with the most tensors (the first seen on a tie).
std::optional<BlockStack> main_block_stack(const TensorTable& table) {
  std::map<std::string, BlockStack> stacks;
  for (const TensorEntry& tensor : table.tensors) {
    std::optional<BlockMember> member = block_member(tensor.name);
    if (!member) continue;
    auto [at, inserted] = stacks.try_emplace(member->prefix);
    if (inserted) {
      at->second.prefix = member->prefix;
      at->second.first_seen = stacks.size();
    }
    ++at->second.tensors;
    at->second.indexes.insert(member->index);
  }
  const BlockStack* best = nullptr;
  for (const auto& [prefix, stack] : stacks) {
    if (!best || stack.tensors > best->tensors || (stack.tensors == best->tensors && stack.first_seen < best->first_seen)) {
      best = &stack;
    }
  }
  if (!best) return std::nullopt;
  return *best;
}

// Stored shapes list the innermost dim first (GGUF, as ggml keeps them), or the outermost.
bool innermost_first(const TensorTable& table) { return table.dims_innermost_first; }

// Where the vocabulary and the width sit in a 2-D embedding: GGUF keeps dims innermost first.
struct Extent {
  std::uint64_t rows = 0;   // vocabulary, positions
  std::uint64_t width = 0;  // hidden size
};

Extent embedding_extent(const TensorTable& table, const TensorEntry& tensor) {
  if (innermost_first(table)) return {tensor.shape[1], tensor.shape[0]};
  return {tensor.shape[0], tensor.shape[1]};
}

bool name_ends_with(std::string_view name, std::string_view suffix) {
  if (name == suffix) return true;
  return name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix &&
         name[name.size() - suffix.size() - 1] == '.';
}

// The one extent every matching 2-D tensor agrees on; nothing when none match or they differ.
std::optional<Extent> agreed_embedding(const TensorTable& table, std::span<const std::string_view> suffixes) {
  std::optional<Extent> agreed;
  for (const TensorEntry& tensor : table.tensors) {
    bool matches = std::any_of(suffixes.begin(), suffixes.end(),
                               [&](std::string_view suffix) { return name_ends_with(tensor.name, suffix); });
    if (!matches || tensor.shape.size() != 2) continue;
    Extent extent = embedding_extent(table, tensor);
    if (agreed && (agreed->rows != extent.rows || agreed->width != extent.width)) return std::nullopt;
    agreed = extent;
  }
  return agreed;
}

constexpr std::string_view kTokenEmbeddings[] = {
    "embed_tokens.weight", "wte.weight", "word_embeddings.weight", "tok_embeddings.weight", "token_embd.weight",
    "embed_in.weight"};
constexpr std::string_view kPositionEmbeddings[] = {
    "wpe.weight", "embeddings.position_embeddings.weight", "position_embd.weight"};

// How a feed-forward input projection stores its matrix.
enum class Layout {
  OutIn,     // torch.nn.Linear: [out, in]
  InOut,     // every GGUF matrix (dims innermost first)
  ByHidden,  // `c_fc`: GPT-2's Conv1D stores [in, out], nanoGPT's Linear [out, in]; the side
             // as wide as the hidden size is the input, so it needs the hidden size known
};

struct ProjectionName {
  std::string_view rest;  // the name inside a block; '#' stands for any expert number
  Layout layout;
};

constexpr ProjectionName kTorchProjections[] = {
    {"mlp.up_proj.weight", Layout::OutIn},
    {"mlp.gate_proj.weight", Layout::OutIn},
    {"mlp.c_fc.weight", Layout::ByHidden},
    {"intermediate.dense.weight", Layout::OutIn},
    {"feed_forward.w1.weight", Layout::OutIn},
    {"feed_forward.w3.weight", Layout::OutIn},
    {"mlp.fc1.weight", Layout::OutIn},
    {"fc1.weight", Layout::OutIn},
    {"linear1.weight", Layout::OutIn},
    {"mlp.dense_h_to_4h.weight", Layout::OutIn},
    {"mlp.fc_in.weight", Layout::OutIn},
    {"layer.#.DenseReluDense.wi.weight", Layout::OutIn},
    {"layer.#.DenseReluDense.wi_0.weight", Layout::OutIn},
    {"layer.#.DenseReluDense.wi_1.weight", Layout::OutIn},
    {"block_sparse_moe.experts.#.w1.weight", Layout::OutIn},
    {"block_sparse_moe.experts.#.w3.weight", Layout::OutIn},
    {"mlp.experts.#.up_proj.weight", Layout::OutIn},
    {"mlp.experts.#.gate_proj.weight", Layout::OutIn},
};

constexpr ProjectionName kGgufProjections[] = {
    {"ffn_up.weight", Layout::InOut},
    {"ffn_gate.weight", Layout::InOut},
    {"ffn_up_exps.weight", Layout::InOut},
    {"ffn_gate_exps.weight", Layout::InOut},
};

bool matches_pattern(std::string_view rest, std::string_view pattern) {
  std::vector<std::string_view> names = components(rest);
  std::vector<std::string_view> wanted = components(pattern);
  if (names.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (wanted[i] == "#" ? !index_component(names[i]) : names[i] != wanted[i]) return false;
  }
  return true;
}

std::optional<Layout> projection_layout(const TensorTable& table, std::string_view rest) {
  if (innermost_first(table)) {
    for (const ProjectionName& projection : kGgufProjections) {
      if (matches_pattern(rest, projection.rest)) return projection.layout;
    }
    return std::nullopt;
  }
  for (const ProjectionName& projection : kTorchProjections) {
    if (matches_pattern(rest, projection.rest)) return projection.layout;
  }
  return std::nullopt;
}

// The feed-forward width from the input projections of the stack's first block. Each must read
// `hidden` wide on its input side when the hidden size is known; all must agree.
std::optional<ArchitectureFigure> inferred_feed_forward(const TensorTable& table, const BlockStack& stack,
                                                        const std::optional<ArchitectureFigure>& hidden) {
  const std::uint64_t first = *stack.indexes.begin();
  std::optional<std::uint64_t> agreed;
  std::string first_name;
  for (const TensorEntry& tensor : table.tensors) {
    std::optional<BlockMember> member = block_member(tensor.name);
    if (!member || member->prefix != stack.prefix || member->index != first) continue;
    std::optional<Layout> layout = projection_layout(table, member->rest);
    // GGUF expert tensors carry the expert number as a third dim.
    std::size_t rank = innermost_first(table) && member->rest.find("_exps.") != std::string::npos ? 3 : 2;
    if (!layout || tensor.shape.size() != rank) continue;
    if (*layout == Layout::ByHidden && !hidden) continue;
    bool out_first = *layout == Layout::OutIn || (*layout == Layout::ByHidden && tensor.shape[1] == hidden->value);
    std::uint64_t out = out_first ? tensor.shape[0] : tensor.shape[1];
    std::uint64_t in = out_first ? tensor.shape[1] : tensor.shape[0];
    if (hidden && in != hidden->value) return std::nullopt;
    if (agreed && *agreed != out) return std::nullopt;
    agreed = out;
    if (first_name.empty()) first_name = tensor.name;
  }
  if (!agreed) return std::nullopt;
  return ArchitectureFigure{*agreed, false, "output width of " + first_name};
}

// Experts numbered in names (`experts.N.`), or GGUF's stacked `ffn_*_exps` tensors whose
// outermost dim counts them.
std::optional<ArchitectureFigure> inferred_experts(const TensorTable& table) {
  if (innermost_first(table)) {
    std::optional<std::uint64_t> agreed;
    for (const TensorEntry& tensor : table.tensors) {
      std::optional<BlockMember> member = block_member(tensor.name);
      if (!member || tensor.shape.size() != 3) continue;
      const std::string& rest = member->rest;
      if (rest != "ffn_up_exps.weight" && rest != "ffn_gate_exps.weight" && rest != "ffn_down_exps.weight") continue;
      if (agreed && *agreed != tensor.shape[2]) return std::nullopt;
      agreed = tensor.shape[2];
    }
    if (!agreed) return std::nullopt;
    return ArchitectureFigure{*agreed, false, "expert dim of ffn_*_exps tensors"};
  }
  std::set<std::uint64_t> indexes;
  for (const TensorEntry& tensor : table.tensors) {
    std::vector<std::string_view> parts = components(tensor.name);
    for (std::size_t i = 0; i + 2 < parts.size(); ++i) {
      if (parts[i] != "experts") continue;
      if (std::optional<std::uint64_t> index = index_component(parts[i + 1])) indexes.insert(*index);
    }
  }
  std::optional<std::uint64_t> count = complete_count(indexes);
  if (!count) return std::nullopt;
  return ArchitectureFigure{*count, false, "experts.N in tensor names"};
}

void infer_from_tensors(ArchitectureFacts& facts, const TensorTable& table) {
  std::optional<BlockStack> stack = main_block_stack(table);
  if (stack) {
    if (std::optional<std::uint64_t> count = complete_count(stack->indexes)) {
      keep_first(facts.layers, ArchitectureFigure{*count, false, stack->prefix + ".N in tensor names"});
    }
  }
  if (std::optional<Extent> embedding = agreed_embedding(table, kTokenEmbeddings)) {
    keep_first(facts.hidden_size, ArchitectureFigure{embedding->width, false, "token embedding width"});
    keep_first(facts.vocabulary, ArchitectureFigure{embedding->rows, false, "token embedding rows"});
  }
  if (std::optional<Extent> positions = agreed_embedding(table, kPositionEmbeddings)) {
    keep_first(facts.context_length, ArchitectureFigure{positions->rows, false, "position embedding rows"});
  }
  if (stack) keep_first(facts.feed_forward_size, inferred_feed_forward(table, *stack, facts.hidden_size));
  keep_first(facts.experts, inferred_experts(table));
}

}  // namespace

// ---- Rendering ------------------------------------------------------------------------------

std::string figure_text(const std::optional<ArchitectureFigure>& figure) {
  if (!figure) return "unknown";
  return std::to_string(figure->value) + " (" + (figure->stated ? "stated: " : "inferred: ") +
         escape_control(figure->evidence) + ")";
}

OrderedJson figure_json(const std::optional<ArchitectureFigure>& figure) {
  if (!figure) return nullptr;
  OrderedJson entry;
  entry["value"] = figure->value;
  entry["source"] = figure->stated ? "stated" : "inferred";
  entry["evidence"] = figure->evidence;
  return entry;
}


ArchitectureFacts infer_architecture(const TensorTable& table, ArchitectureFacts stated) {
  ArchitectureFacts facts = std::move(stated);
  infer_from_tensors(facts, table);
  return facts;
}

void print_architecture(std::ostream& out, const ArchitectureFacts& facts) {
  std::string family = "unknown";
  if (facts.family) {
    family = escape_control(*facts.family);
    if (!facts.family_evidence.empty()) family += " (stated: " + escape_control(facts.family_evidence) + ")";
  }
  const std::pair<const char*, std::string> lines[] = {
      {"Family:", family},
      {"Layers:", figure_text(facts.layers)},
      {"Hidden size:", figure_text(facts.hidden_size)},
      {"Vocabulary:", figure_text(facts.vocabulary)},
      {"Attention heads:", figure_text(facts.attention_heads)},
      {"Key/value heads:", figure_text(facts.key_value_heads)},
      {"Feed-forward:", figure_text(facts.feed_forward_size)},
      {"Experts:", figure_text(facts.experts)},
      {"Context length:", figure_text(facts.context_length)},
  };
  out << "\nArchitecture:\n";
  for (const auto& [label, value] : lines) out << "  " << pad_right(label, 17) << value << "\n";
}

OrderedJson architecture_json(const ArchitectureFacts& facts) {
  OrderedJson document;
  document["family"] = ordered_optional(facts.family);
  document["layers"] = figure_json(facts.layers);
  document["hidden_size"] = figure_json(facts.hidden_size);
  document["vocabulary"] = figure_json(facts.vocabulary);
  document["attention_heads"] = figure_json(facts.attention_heads);
  document["key_value_heads"] = figure_json(facts.key_value_heads);
  document["feed_forward_size"] = figure_json(facts.feed_forward_size);
  document["experts"] = figure_json(facts.experts);
  document["context_length"] = figure_json(facts.context_length);
  return document;
}

}  // namespace tarnwick
