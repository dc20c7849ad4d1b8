#include "xgboost/xgboost_model.h"

#include <algorithm>

#include "base/file_read.h"
#include "base/json_output.h"
#include "base/number_parse.h"
#include "tables/content_hash.h"
#include "xgboost/model_events.h"
#include "xgboost/xgboost_document.h"
#include "xgboost/xgboost_trees.h"

namespace tarnwick {

namespace {

const Json* member(const Json* object, const char* key) {
  if (!object || !object->is_object()) return nullptr;
  auto found = object->find(key);
  return found == object->end() ? nullptr : &*found;
}

std::optional<std::string> text_member(const Json* object, const char* key) {
  const Json* value = member(object, key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

// Learner parameters are strings ("5E-1", "3"); a number is taken as it is.
std::optional<std::uint64_t> count_member(const Json* object, const char* key) {
  const Json* value = member(object, key);
  if (value && value->is_number_unsigned()) return value->get<std::uint64_t>();
  std::optional<std::string> text = text_member(object, key);
  if (!text) return std::nullopt;
  Result<std::uint64_t> parsed = parse_unsigned(*text);
  return parsed.is_ok() ? std::optional(parsed.value()) : std::nullopt;
}

std::optional<double> real_member(const Json* object, const char* key) {
  const Json* value = member(object, key);
  if (value && value->is_number()) return value->get<double>();
  std::optional<std::string> text = text_member(object, key);
  if (!text) return std::nullopt;
  Result<double> parsed = parse_real(*text);
  return parsed.is_ok() ? std::optional(parsed.value()) : std::nullopt;
}

std::vector<std::string> strings_member(const Json* object, const char* key) {
  std::vector<std::string> values;
  const Json* list = member(object, key);
  if (!list || !list->is_array()) return values;
  for (const Json& value : *list) values.push_back(value.is_string() ? value.get<std::string>() : value.dump());
  return values;
}

std::optional<std::string> version_text(const Json& document) {
  const Json* version = member(&document, "version");
  if (!version || !version->is_array() || version->empty()) return std::nullopt;
  std::string text;
  for (const Json& part : *version) {
    if (!part.is_number_integer()) return std::nullopt;
    text += (text.empty() ? "" : ".") + std::to_string(part.get<std::int64_t>());
  }
  return text;
}

// Rounds = trees / (parallel trees x output groups) where the model does not list where each
// round's trees start (XGBoost 2 writes iteration_indptr).
std::optional<std::uint64_t> boosting_rounds(const XgboostModel& model, const Json* gbtree_model) {
  const Json* indptr = member(gbtree_model, "iteration_indptr");
  if (indptr && indptr->is_array() && !indptr->empty()) return indptr->size() - 1;
  if (!gbtree_model) return std::nullopt;
  std::uint64_t groups = std::max<std::uint64_t>({1, model.num_class.value_or(0), model.num_target.value_or(0)});
  std::uint64_t per_round = groups * std::max<std::uint64_t>(1, model.num_parallel_tree.value_or(1));
  return model.trees.trees.size() / per_round;
}

Status read_booster(XgboostModel& model, const Json* booster, ModelEvents& events) {
  model.booster = text_member(booster, "name");
  const Json* gbtree = booster;
  TreeModelPlace place = TreeModelPlace::kBooster;
  if (model.booster == "dart") {
    gbtree = member(booster, "gbtree");
    place = TreeModelPlace::kDartGbtree;
    const Json* weights = member(booster, "weight_drop");
    if (weights && weights->is_array()) model.dart_weights = weights->size();
  }
  if (model.booster == "gblinear") return Status::ok();
  const Json* trees_model = member(gbtree, "model");
  if (!trees_model) return fail(model.path + ": XGBoost model has no gradient_booster tree model");
  model.num_parallel_tree = count_member(member(trees_model, "gbtree_model_param"), "num_parallel_tree");
  const Json* trees = member(trees_model, "trees");
  if (!trees || !trees->is_array()) return fail(model.path + ": XGBoost model has no \"trees\" list");
  if (Status read = events.trees(place).finish(model.trees); !read.is_ok()) return read;
  model.boosting_rounds = boosting_rounds(model, trees_model);
  return Status::ok();
}

void add_features(XgboostModel& model) {
  std::size_t count = std::max<std::size_t>(model.feature_names.size(), model.num_feature.value_or(0));
  count = std::min<std::size_t>(count, model.feature_names.size() + kMaxUnnamedXgboostFeatures);
  for (std::size_t i = 0; i < count; ++i) {
    TreeFeature feature;
    feature.index = i;
    if (i < model.feature_names.size()) feature.name = model.feature_names[i];
    feature.type = i < model.feature_types.size() ? model.feature_types[i] : "numerical";
    model.trees.features.push_back(std::move(feature));
  }
}

}  // namespace

Result<XgboostModel> parse_xgboost_model(const std::string& path, std::string_view bytes) {
  ModelEvents events(path);
  if (Status parsed = stream_xgboost_document(path, bytes, events); !parsed.is_ok()) return parsed.error();
  const Json& document = events.document();
  const Json* learner = member(&document, "learner");
  if (!learner || !learner->is_object()) return fail(path + ": not an XGBoost model: no \"learner\" object");

  XgboostModel model;
  model.path = path;
  model.bytes = bytes.size();
  model.encoding = is_ubjson_model(bytes) ? "UBJSON" : "JSON";
  model.file_fingerprint = xxh3_64(bytes);
  model.version = version_text(document);
  const Json* parameters = member(learner, "learner_model_param");
  model.base_score = real_member(parameters, "base_score");
  model.num_class = count_member(parameters, "num_class");
  model.num_feature = count_member(parameters, "num_feature");
  model.num_target = count_member(parameters, "num_target");
  model.objective = text_member(member(learner, "objective"), "name");
  model.feature_names = strings_member(learner, "feature_names");
  model.feature_types = strings_member(learner, "feature_types");

  model.trees.path = path;
  model.trees.format = "xgboost";
  model.trees.num_class = model.num_class;
  model.trees.objective = model.objective;
  add_features(model);
  if (Status read = read_booster(model, member(learner, "gradient_booster"), events); !read.is_ok())
    return read.error();
  return model;
}

Result<XgboostModel> read_xgboost_model(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return parse_xgboost_model(path, bytes.value().view());
}

Result<TreeTable> read_xgboost_trees(const std::string& path) {
  Result<XgboostModel> model = read_xgboost_model(path);
  if (!model.is_ok()) return model.error();
  return std::move(model.value().trees);
}

}  // namespace tarnwick
