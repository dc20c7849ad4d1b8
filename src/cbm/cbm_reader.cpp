#include <algorithm>
#include <array>
#include <map>
#include <set>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "cbm/cbm_summary.h"
#include "cbm/embedded_json.h"
#include "cbm/file_hashes.h"
#include "base/checked_math.h"
#include "base/file_read.h"
#include "base/format.h"
#include "base/real_equality.h"
#include "base/text.h"

namespace tarnwick {

namespace {

using nlohmann::json;

// Snake-case words of CatBoost's own metadata that look like feature names.
constexpr std::array<std::string_view, 22> kMetadataWords = {"model_guid",
                                                             "feature_id",
                                                             "flat_params",
                                                             "feature_index",
                                                             "features_info",
                                                             "output_options",
                                                             "float_features",
                                                             "feature_calcers",
                                                             "boosting_options",
                                                             "learn_best_error",
                                                             "tokenizers_names",
                                                             "train_finish_time",
                                                             "cat_feature_params",
                                                             "feature_processing",
                                                             "dictionaries_names",
                                                             "static_provider_v1",
                                                             "tree_learner_options",
                                                             "test_metrics_history",
                                                             "categorical_features",
                                                             "learn_metrics_history",
                                                             "catboost_version_info",
                                                             "data_processing_options"};

const json* at_key(const json* value, const char* key) {
  if (value == nullptr || !value->is_object()) return nullptr;
  auto found = value->find(key);
  return found == value->end() ? nullptr : &*found;
}

const json* at_pointer(const json* value, const char* pointer) {
  if (value == nullptr) return nullptr;
  json::json_pointer path(pointer);
  // contains() throws on array indices that are not numbers; such a path simply does not resolve.
  try {
    return value->contains(path) ? &value->at(path) : nullptr;
  } catch (const json::exception&) {
    return nullptr;
  }
}

std::optional<std::uint64_t> as_count(const json* value) {
  if (value == nullptr || !value->is_number_unsigned()) return std::nullopt;
  return value->get<std::uint64_t>();
}

std::optional<double> as_real(const json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<std::string> as_text(const json* value) {
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

template <class T>
std::optional<T> first_of(std::optional<T> first, std::optional<T> second) {
  return first ? first : second;
}

bool is_params_document(const json& value) { return at_key(&value, "boosting_options") != nullptr; }
// As at_pointer(&value, "/metrics/learn_best_error"), without parsing a pointer per object.
bool is_metrics_document(const json& value) { return at_key(at_key(&value, "metrics"), "learn_best_error") != nullptr; }

// What the summary takes from the embedded objects, gathered as they are found so that none is
// kept: the first parameters and metrics documents, and how often each compact object text
// occurs (a file of millions of `{}` holds one text).
struct ObjectDigest {
  std::optional<json> params, metrics;
  std::map<std::string, std::uint64_t> text_counts;
  std::uint64_t empty_objects = 0;  // counted apart: noise holds millions of `{}` between other bytes

  void add(EmbeddedJsonObject&& object) {
    if (object.value.empty() && object.value.is_object()) {
      empty_objects += object.repeats;
      return;
    }
    text_counts[object.value.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace)] += object.repeats;
    if (!params && is_params_document(object.value)) params = object.value;
    if (!metrics && is_metrics_document(object.value)) metrics = std::move(object.value);
  }

  // The empty objects join the other texts, in the order the fingerprint takes them.
  void count_empty_objects() {
    if (empty_objects > 0) text_counts["{}"] += empty_objects;
    empty_objects = 0;
  }
};

void read_training_fields(const ObjectDigest& digest, CbmSummary& summary) {
  const json* params = digest.params ? &*digest.params : nullptr;
  const json* metrics = digest.metrics ? &*digest.metrics : nullptr;
  const json* flat = at_pointer(params, "/flat_params");
  const json* tree = at_pointer(params, "/tree_learner_options");
  const json* metric_options = at_pointer(params, "/metrics");

  summary.iterations =
      first_of(as_count(at_key(flat, "iterations")), as_count(at_pointer(params, "/boosting_options/iterations")));
  summary.depth = first_of(as_count(at_key(flat, "depth")), as_count(at_key(tree, "depth")));
  summary.learning_rate =
      first_of(as_real(at_key(flat, "learning_rate")), as_real(at_pointer(params, "/boosting_options/learning_rate")));
  summary.loss_function =
      first_of(as_text(at_key(flat, "loss_function")), as_text(at_pointer(params, "/loss_function/type")));
  summary.eval_metric = as_text(at_pointer(metric_options, "/eval_metric/type"));
  summary.grow_policy = as_text(at_key(tree, "grow_policy"));
  summary.l2_leaf_reg = first_of(as_real(at_key(flat, "l2_leaf_reg")), as_real(at_key(tree, "l2_leaf_reg")));
  summary.bootstrap_type = as_text(at_pointer(tree, "/bootstrap/type"));
  summary.best_learn_rmse = as_real(at_pointer(metrics, "/metrics/learn_best_error/RMSE"));
}

bool is_printable(char c) { return c >= 0x20 && c <= 0x7E; }

// The first byte at or after `i` that is not printable ASCII, or the size. Bodies are mostly
// printable, so sixteen bytes are checked at a time.
std::size_t next_unprintable(std::string_view bytes, std::size_t i) {
#ifdef __SSE2__
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80 - 0x20));  // maps ' '..'~' to -128..-34
  const __m128i last_printable = _mm_set1_epi8(-34);
  for (; i + 16 <= bytes.size(); i += 16) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
    __m128i shifted = _mm_add_epi8(chunk, flip);
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(shifted, last_printable)));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  while (i < bytes.size() && is_printable(bytes[i])) ++i;
  return i;
}

// Runs of at least three printable ASCII bytes (space to tilde), in file order.
std::vector<std::string_view> printable_runs(std::string_view bytes) {
  std::vector<std::string_view> runs;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = next_unprintable(bytes, start);
    if (end - start >= 3) runs.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return runs;
}

bool looks_like_feature_name(std::string_view run) {
  if (run.size() < 6 || run.size() > 80) return false;
  if (run.front() < 'a' || run.front() > 'z') return false;
  if (run.find('_') == std::string_view::npos) return false;
  for (char c : run) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!allowed) return false;
  }
  return std::find(kMetadataWords.begin(), kMetadataWords.end(), run) == kMetadataWords.end();
}

void read_printable_fields(std::string_view bytes, CbmSummary& summary) {
  std::vector<std::string_view> runs = printable_runs(bytes);
  auto marker = std::find(runs.begin(), runs.end(), "train_finish_time");
  if (marker != runs.end() && marker != runs.begin()) summary.train_finish_time = std::string(*(marker - 1));
  std::set<std::string_view> names;
  for (std::string_view run : runs) {
    if (looks_like_feature_name(run)) names.insert(run);
  }
  summary.feature_names.assign(names.begin(), names.end());
}

// Compact texts of the parsed objects, sorted and joined: order and layout in the file do not matter.
std::optional<std::uint64_t> metadata_fingerprint(const ObjectDigest& digest) {
  if (digest.text_counts.empty()) return std::nullopt;
  Fnv1a64 hash;
  bool first = true;
  for (const auto& [text, count] : digest.text_counts) {
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!first) hash.update("\n");
      first = false;
      hash.update(text);
    }
  }
  return hash.digest();
}

}  // namespace

Result<CbmSummary> summarize_cbm_bytes(const std::string& path, std::string_view bytes) {
  if (bytes.size() < 4 || bytes.substr(0, 4) != "CBM1") {
    return fail(path + " does not look like a CatBoost CBM file: missing CBM1 signature");
  }
  FileHashes hashes(bytes);
  ObjectDigest digest;
  for_each_embedded_json_object(bytes, [&](EmbeddedJsonObject&& object) {
    hashes.object(object.start, object.end);
    digest.add(std::move(object));
  });
  digest.count_empty_objects();
  CbmSummary summary;
  summary.name = display_file_name(path);
  summary.file_size_bytes = bytes.size();
  read_training_fields(digest, summary);
  read_printable_fields(bytes, summary);
  // While the file's bytes are still being hashed aside: millions of repeated objects make this
  // fingerprint as long a pass as that one.
  summary.metadata_fingerprint = metadata_fingerprint(digest);
  FileHashes::Digests digests = hashes.finish();
  summary.full_artifact_fingerprint = digests.whole_file;
  summary.learned_state_fingerprint = digests.around_objects;
  return summary;
}

Result<CbmSummary> read_cbm_summary(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return summarize_cbm_bytes(path, bytes.value().view());
}

bool same_catboost_training_config(const CbmSummary& a, const CbmSummary& b) {
  return a.loss_function == b.loss_function && a.eval_metric == b.eval_metric &&
         same_optional_real(a.learning_rate, b.learning_rate) && same_optional_real(a.l2_leaf_reg, b.l2_leaf_reg) &&
         a.grow_policy == b.grow_policy && a.bootstrap_type == b.bootstrap_type;
}

std::optional<std::uint64_t> cbm_split_checks_per_row(const CbmSummary& summary) {
  if (!summary.iterations || !summary.depth) return std::nullopt;
  return checked_multiply(*summary.iterations, *summary.depth);
}

std::optional<std::uint64_t> cbm_leaf_slots(const CbmSummary& summary) {
  if (!summary.iterations || !summary.depth || *summary.depth >= 64) return std::nullopt;
  return checked_multiply(*summary.iterations, std::uint64_t{1} << *summary.depth);
}

}  // namespace tarnwick
