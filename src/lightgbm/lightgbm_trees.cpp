#include "lightgbm/lightgbm_trees.h"

#include <map>

#include "base/file_read.h"
#include "base/format.h"
#include "base/number_parse.h"
#include "base/text.h"
#include "lightgbm/model_text_completeness.h"

namespace tarnwick {

namespace {

using Fields = std::map<std::string, std::string_view, std::less<>>;

constexpr unsigned kCategoricalDecision = 1;  // bit 0 of decision_type
constexpr unsigned kDefaultLeftDecision = 2;  // bit 1: the default direction is left

// The missing type of a split and, unless it is None, the way those values go.
void read_missing(std::uint64_t decision, TreeSplit& split) {
  split.missing_type = static_cast<std::uint8_t>(decision >> 2 & 3);
  if (*split.missing_type != kMissingTypeNone) split.default_left = (decision & kDefaultLeftDecision) != 0;
}
constexpr std::uint64_t kMaxUnnamedFeatures = 1 << 16;

struct ModelText {
  Fields header;
  std::vector<Fields> trees;
};

std::string_view next_line(std::string_view& text) {
  std::size_t newline = text.find('\n');
  std::string_view line = text.substr(0, newline);
  text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

void store_field(Fields& fields, std::string_view line) {
  std::size_t at = line.find('=');
  if (at == std::string_view::npos) return;
  fields[std::string(line.substr(0, at))] = line.substr(at + 1);
}

// The header's key=value lines and one field map per Tree= block, up to "end of trees".
ModelText split_blocks(std::string_view text) {
  ModelText model;
  Fields* current = &model.header;
  while (!text.empty()) {
    std::string_view line = next_line(text);
    if (line == "end of trees" || line == "parameters:") break;
    if (line.starts_with("Tree=")) {
      model.trees.emplace_back();
      current = &model.trees.back();
    }
    store_field(*current, line);
  }
  return model;
}

class TreeParser {
 public:
  TreeParser(const std::string& path, std::uint64_t index, const Fields& fields)
      : path_(path), index_(index), fields_(fields) {}

  Error broken(const std::string& problem) const {
    return fail(path_ + ": LightGBM tree " + std::to_string(index_) + ": " + problem);
  }

  template <class T, class Parse>
  Result<std::vector<T>> list(std::string_view key, std::size_t expected, Parse parse_word) const {
    auto found = fields_.find(key);
    std::vector<T> values;
    if (found == fields_.end()) {
      if (expected == 0 || expected == kAny) return values;
      return broken(std::string(key) + " is missing");
    }
    for (std::string_view word : split_whitespace(found->second)) {
      auto value = parse_word(word);
      if (!value.is_ok()) return broken(std::string(key) + ": " + value.message() + ": " + std::string(word));
      values.push_back(static_cast<T>(value.value()));
    }
    if (expected != kAny && values.size() != expected) {
      return broken(std::string(key) + " holds " + std::to_string(values.size()) + " values, expected " +
                    std::to_string(expected));
    }
    return values;
  }

  static constexpr std::size_t kAny = static_cast<std::size_t>(-1);

  Result<Tree> parse(std::uint64_t feature_count) {
    auto leaves_text = fields_.find("num_leaves");
    if (leaves_text == fields_.end()) return broken("num_leaves is missing");
    Result<std::uint64_t> leaves = parse_unsigned(leaves_text->second);
    if (!leaves.is_ok()) return broken("num_leaves: " + leaves.message());
    // Every leaf needs a value on the leaf_value line, so the line's length bounds the count.
    if (leaves.value() == 0 || leaves.value() > leaf_line_size() + 1) {
      return broken("num_leaves " + std::to_string(leaves.value()) + " does not match its leaf values");
    }
    std::size_t nodes = static_cast<std::size_t>(leaves.value() - 1);
    auto features = list<std::int64_t>("split_feature", nodes, parse_signed);
    auto thresholds = list<double>("threshold", nodes, parse_real);
    auto decisions = list<std::uint64_t>("decision_type", nodes, parse_unsigned);
    auto left = list<std::int64_t>("left_child", nodes, parse_signed);
    auto right = list<std::int64_t>("right_child", nodes, parse_signed);
    auto values = list<double>("leaf_value", nodes + 1, parse_real);
    auto boundaries = list<std::uint64_t>("cat_boundaries", kAny, parse_unsigned);
    auto words = list<std::uint32_t>("cat_threshold", kAny, [](std::string_view w) {
      Result<std::uint64_t> v = parse_unsigned(w);
      if (v.is_ok() && v.value() > 0xFFFFFFFFu)
        return Result<std::uint64_t>(fail("number too large to fit in target type"));
      return v;
    });
    for (const std::string* problem : {error_of(features), error_of(thresholds), error_of(decisions), error_of(left),
                                       error_of(right), error_of(values), error_of(boundaries), error_of(words)}) {
      if (problem) return fail(*problem);
    }
    Tree tree;
    tree.index = index_;
    tree.leaves = leaves.value();
    tree.leaf_values = values.take();
    // Each categorical split owns its range of bitset words, so the words are read once each.
    std::vector<bool> range_used(boundaries.value().size(), false);
    for (std::size_t node = 0; node < nodes; ++node) {
      std::int64_t feature = features.value()[node];
      if (feature < 0 || static_cast<std::uint64_t>(feature) >= feature_count) {
        return broken("node " + std::to_string(node) + " splits on feature " + std::to_string(feature) + " of " +
                      std::to_string(feature_count));
      }
      TreeSplit split;
      split.feature = static_cast<std::uint64_t>(feature);
      read_missing(decisions.value()[node], split);
      if (decisions.value()[node] & kCategoricalDecision) {
        Result<std::vector<std::uint32_t>> categories =
            categories_of(thresholds.value()[node], boundaries.value(), words.value(), range_used);
        if (!categories.is_ok()) return categories.error();
        split.categories = categories.take();
      } else {
        split.threshold = thresholds.value()[node];
      }
      tree.splits.push_back(std::move(split));
    }
    Result<std::uint64_t> depth = depth_of(left.value(), right.value(), leaves.value());
    if (!depth.is_ok()) return depth.error();
    tree.depth = depth.value();
    return tree;
  }

 private:
  template <class T>
  static const std::string* error_of(const Result<T>& result) {
    return result.is_ok() ? nullptr : &result.message();
  }

  std::size_t leaf_line_size() const {
    auto found = fields_.find("leaf_value");
    return found == fields_.end() ? 0 : found->second.size();
  }

  // A categorical split's threshold picks a range of bitset words; set bits are categories.
  Result<std::vector<std::uint32_t>> categories_of(double threshold, const std::vector<std::uint64_t>& boundaries,
                                                   const std::vector<std::uint32_t>& words,
                                                   std::vector<bool>& range_used) const {
    if (!(threshold >= 0) || threshold + 1 >= static_cast<double>(boundaries.size())) {
      return broken("categorical threshold " + format_real(threshold) + " has no cat_boundaries entry");
    }
    auto at = static_cast<std::size_t>(threshold);
    if (range_used[at]) return broken("categorical threshold " + format_real(threshold) + " is used twice");
    range_used[at] = true;
    std::uint64_t begin = boundaries[at], end = boundaries[at + 1];
    if (begin > end || end > words.size()) return broken("cat_boundaries run past cat_threshold");
    std::vector<std::uint32_t> categories;
    for (std::uint64_t word = begin; word < end; ++word) {
      for (unsigned bit = 0; bit < 32; ++bit) {
        if (words[word] >> bit & 1u) categories.push_back(static_cast<std::uint32_t>((word - begin) * 32 + bit));
      }
    }
    return categories;
  }

  // Walks from the root; a node reached twice (a cycle or a shared child) is an error, so the walk
  // visits each node at most once.
  Result<std::uint64_t> depth_of(const std::vector<std::int64_t>& left, const std::vector<std::int64_t>& right,
                                 std::uint64_t leaves) const {
    if (left.empty()) return std::uint64_t{0};
    std::vector<bool> seen(left.size(), false);
    std::vector<std::uint64_t> leaf_seen(leaves, 0);
    std::vector<std::pair<std::int64_t, std::uint64_t>> pending = {{0, 0}};
    std::uint64_t deepest = 0;
    while (!pending.empty()) {
      auto [node, depth] = pending.back();
      pending.pop_back();
      if (node < 0) {
        std::uint64_t leaf = static_cast<std::uint64_t>(~node);
        if (leaf >= leaves || leaf_seen[leaf]++)
          return broken("leaf " + std::to_string(leaf) + " is out of range or reached twice");
        deepest = std::max(deepest, depth);
        continue;
      }
      auto at = static_cast<std::size_t>(node);
      if (at >= left.size() || seen[at])
        return broken("node " + std::to_string(node) + " is out of range or reached twice");
      seen[at] = true;
      pending.push_back({left[at], depth + 1});
      pending.push_back({right[at], depth + 1});
    }
    return deepest;
  }

  const std::string& path_;
  std::uint64_t index_;
  const Fields& fields_;
};

std::optional<std::uint64_t> header_count(const Fields& header, std::string_view key) {
  auto found = header.find(key);
  if (found == header.end()) return std::nullopt;
  Result<std::uint64_t> value = parse_unsigned(trim(found->second));
  return value.is_ok() ? std::optional<std::uint64_t>(value.value()) : std::nullopt;
}

std::vector<TreeFeature> header_features(const Fields& header) {
  std::vector<std::string_view> names, infos;
  if (auto found = header.find("feature_names"); found != header.end()) names = split_whitespace(found->second);
  if (auto found = header.find("feature_infos"); found != header.end()) infos = split_whitespace(found->second);
  std::uint64_t count = std::max(names.size(), infos.size());
  std::optional<std::uint64_t> max_index = header_count(header, "max_feature_idx");
  if (count == 0 && max_index) {
    // Without names the header's own count stands, bounded so that a huge claim costs little.
    count = std::min<std::uint64_t>(*max_index, kMaxUnnamedFeatures - 1) + 1;
  }
  std::vector<TreeFeature> features(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    features[i].index = i;
    if (i < names.size()) features[i].name = std::string(names[i]);
    bool categorical = i < infos.size() && infos[i] != "none" && !infos[i].starts_with("[");
    features[i].type = categorical ? "categorical" : "numerical";
  }
  return features;
}

}  // namespace

Result<TreeTable> parse_lightgbm_trees(const std::string& path, std::string_view text) {
  Status complete = check_model_text_complete(path, text);
  if (!complete.is_ok()) return complete.error();
  ModelText model = split_blocks(text);
  TreeTable table;
  table.path = path;
  table.format = "lightgbm";
  table.features = header_features(model.header);
  table.num_class = header_count(model.header, "num_class");
  if (auto found = model.header.find("objective"); found != model.header.end()) {
    table.objective = std::string(trim(found->second));
  }
  for (std::size_t i = 0; i < model.trees.size(); ++i) {
    Result<Tree> tree = TreeParser(path, i, model.trees[i]).parse(table.features.size());
    if (!tree.is_ok()) return tree.error();
    for (const TreeSplit& split : tree.value().splits) {
      TreeFeature& feature = table.features[split.feature];
      ++feature.split_count;
      if (!split.categories.empty() || !split.threshold) feature.type = "categorical";
    }
    table.trees.push_back(tree.take());
  }
  return table;
}

Result<TreeTable> read_lightgbm_trees(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return parse_lightgbm_trees(path, bytes.value().view());
}

}  // namespace tarnwick
