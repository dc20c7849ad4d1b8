#include <cmath>
#include <map>
#include <string_view>

#include "lightgbm/content_test.h"
#include "lightgbm/lightgbm_summary.h"
#include "base/checked_math.h"
#include "base/file_read.h"
#include "base/format.h"
#include "base/json_text.h"
#include "base/number_parse.h"
#include "base/real_equality.h"
#include "base/text.h"
#include "base/word_list.h"

namespace tarnwick {

namespace {

// Keys and values are views into the scanned text, which outlives the scan's use.
using TextMap = std::map<std::string_view, std::string_view, std::less<>>;

struct ScannedModel {
  TextMap header;
  TextMap parameters;
  bool has_parameter_lines = false;
  Fnv1a64 parameters_text;  // each parameter line and a newline
  std::uint64_t trees = 0;
  Fnv1a64 leaf_values;
  Fnv1a64 file;  // every byte, when the scanned text is the file itself
};

void store_split(TextMap& map, std::string_view line, char separator) {
  std::size_t at = line.find(separator);
  if (at == std::string_view::npos) return;
  map[trim(line.substr(0, at))] = trim(line.substr(at + 1));
}

// One pass over the lines. When `hash_file` is set the text is the file's own bytes and every
// byte also goes to the file hash, side by side with the leaf-value hash on those lines, so
// the three fingerprints cost about one pass.
ScannedModel scan_lines(std::string_view text, bool hash_file) {
  ScannedModel model;
  bool in_header = true;
  bool in_parameters = false;
  while (!text.empty()) {
    std::size_t newline = text.find('\n');
    std::string_view raw = text.substr(0, newline == std::string_view::npos ? text.size() : newline + 1);
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(raw.size());
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (hash_file) {
      if (line.starts_with("leaf_value=")) {
        Fnv1a64::update_both(model.file, model.leaf_values, line);
        model.file.update(raw.substr(line.size()));
        continue;
      }
      model.file.update(raw);
    }

    if (line.size() >= 5 && line.starts_with("Tree=")) {
      ++model.trees;
      in_header = false;
    } else if (line == "end of parameters") {
      in_parameters = false;
    } else if (line == "parameters:") {
      in_header = false;
      in_parameters = true;
    } else if (line.starts_with("leaf_value=")) {
      model.leaf_values.update(line);
    } else if (in_parameters) {
      model.has_parameter_lines = true;
      model.parameters_text.update(line);
      model.parameters_text.update("\n");
      if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        store_split(model.parameters, line.substr(1, line.size() - 2), ':');
      }
    } else if (in_header) {
      store_split(model.header, line, '=');
    }
  }
  return model;
}

const std::string_view* lookup(const TextMap& map, std::string_view key) {
  auto found = map.find(key);
  return found == map.end() ? nullptr : &found->second;
}

std::optional<std::string> text_field(const TextMap& map, std::string_view key) {
  const std::string_view* value = lookup(map, key);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::optional<std::uint64_t> unsigned_field(const TextMap& map, std::string_view key) {
  const std::string_view* value = lookup(map, key);
  if (!value) return std::nullopt;
  Result<std::uint64_t> parsed = parse_unsigned(*value);
  return parsed.is_ok() ? std::optional<std::uint64_t>(parsed.value()) : std::nullopt;
}

std::optional<std::int64_t> signed_field(const TextMap& map, std::string_view key) {
  const std::string_view* value = lookup(map, key);
  if (!value) return std::nullopt;
  Result<std::int64_t> parsed = parse_signed(*value);
  return parsed.is_ok() ? std::optional<std::int64_t>(parsed.value()) : std::nullopt;
}

std::optional<double> real_field(const TextMap& map, std::string_view key) {
  const std::string_view* value = lookup(map, key);
  if (!value) return std::nullopt;
  Result<double> parsed = parse_real(*value);
  return parsed.is_ok() ? std::optional<double>(parsed.value()) : std::nullopt;
}

std::optional<std::uint64_t> feature_count(const TextMap& header, std::size_t name_count) {
  // The largest feature index plus one; a negative index below -1 states no count.
  std::optional<std::int64_t> max_index = signed_field(header, "max_feature_idx");
  if (max_index && *max_index >= -1) return static_cast<std::uint64_t>(*max_index) + 1;
  if (name_count != 0) return name_count;
  return std::nullopt;
}

std::optional<std::string> objective_field(const ScannedModel& model) {
  if (const std::string_view* objective = lookup(model.header, "objective")) {
    std::string_view first_word;
    next_word(*objective, 0, first_word);
    return std::string(first_word);
  }
  return text_field(model.parameters, "objective");
}

}  // namespace

Result<LightgbmSummary> summarize_lightgbm_text(const std::string& path, std::string_view bytes) {
  if (!looks_like_lightgbm_text(bytes)) {
    return fail(path + " does not look like a LightGBM text model: missing `tree` / `max_feature_idx=` header");
  }
  // Valid UTF-8 (as honest models are) is scanned in place; anything else through its
  // decoded copy, with the file hashed on its own.
  bool in_place = is_valid_utf8(bytes);
  std::string decoded = in_place ? std::string() : decode_utf8_lossy(bytes);
  ScannedModel model = in_place ? scan_lines(bytes, true) : scan_lines(decoded, false);

  LightgbmSummary summary;
  summary.path = display_file_name(path);
  summary.bytes = bytes.size();
  summary.file_fingerprint = in_place ? model.file.digest() : fnv1a64(bytes);
  summary.learned_state_fingerprint = model.leaf_values.digest();
  if (model.has_parameter_lines) summary.metadata_fingerprint = model.parameters_text.digest();
  summary.version = text_field(model.header, "version");
  summary.num_class = unsigned_field(model.header, "num_class");
  summary.num_trees = model.trees;
  if (const std::string_view* names = lookup(model.header, "feature_names")) {
    summary.feature_names = WordList::split(*names);
  }
  summary.num_features = feature_count(model.header, summary.feature_names.size());
  summary.objective = objective_field(model);
  summary.boosting = text_field(model.parameters, "boosting");
  summary.num_leaves = unsigned_field(model.parameters, "num_leaves");
  summary.learning_rate = real_field(model.parameters, "learning_rate");
  summary.max_depth = signed_field(model.parameters, "max_depth");
  summary.num_iterations = unsigned_field(model.parameters, "num_iterations");
  summary.metric = text_field(model.parameters, "metric");
  return summary;
}

Result<LightgbmSummary> read_lightgbm_summary(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return summarize_lightgbm_text(path, bytes.value().view());
}

bool same_lightgbm_training_config(const LightgbmSummary& a, const LightgbmSummary& b) {
  return a.objective == b.objective && a.boosting == b.boosting &&
         same_optional_real(a.learning_rate, b.learning_rate) && a.num_leaves == b.num_leaves &&
         a.max_depth == b.max_depth && a.metric == b.metric;
}

std::optional<std::uint64_t> lightgbm_leaf_slots(const LightgbmSummary& summary) {
  if (!summary.num_leaves) return std::nullopt;
  return checked_multiply(summary.num_trees, *summary.num_leaves);
}

OrderedJson lightgbm_summary_json(const LightgbmSummary& summary) {
  OrderedJson record;
  record["path"] = summary.path;
  record["bytes"] = summary.bytes;
  record["is_lgbm"] = summary.is_lgbm;
  record["file_fingerprint"] = summary.file_fingerprint;
  record["learned_state_fingerprint"] = summary.learned_state_fingerprint;
  record["metadata_fingerprint"] = ordered_optional(summary.metadata_fingerprint);
  record["version"] = ordered_optional(summary.version);
  record["num_class"] = ordered_optional(summary.num_class);
  record["num_trees"] = summary.num_trees;
  record["num_features"] = ordered_optional(summary.num_features);
  record["objective"] = ordered_optional(summary.objective);
  record["boosting"] = ordered_optional(summary.boosting);
  record["num_leaves"] = ordered_optional(summary.num_leaves);
  record["learning_rate"] = summary.learning_rate && std::isfinite(*summary.learning_rate)
                                ? OrderedJson(*summary.learning_rate)
                                : OrderedJson(nullptr);
  record["max_depth"] = ordered_optional(summary.max_depth);
  record["num_iterations"] = ordered_optional(summary.num_iterations);
  record["metric"] = ordered_optional(summary.metric);
  record["feature_names"] = ordered_word_array(summary.feature_names);
  return record;
}

}  // namespace tarnwick
