#include "xgboost/model_events.h"

#include <cmath>
#include <limits>

namespace tarnwick {

namespace {

// A float32 value widened, so JSON and UBJSON models read alike; the non-finite words of a JSON
// model arrive as strings.
std::optional<double> real_value(const Json& value) {
  if (value.is_number()) {
    double wide = value.get<double>();
    // Beyond float's range the narrowing is undefined; XGBoost's float would be infinite.
    if (std::isfinite(wide) && std::fabs(wide) > std::numeric_limits<float>::max()) {
      return std::copysign(std::numeric_limits<double>::infinity(), wide);
    }
    return static_cast<double>(static_cast<float>(wide));
  }
  if (!value.is_string()) return std::nullopt;
  const std::string& word = value.get_ref<const std::string&>();
  if (word == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (word == "Infinity") return std::numeric_limits<double>::infinity();
  if (word == "-Infinity") return -std::numeric_limits<double>::infinity();
  return std::nullopt;
}

StoredArray<std::int64_t>* integer_array(StoredTree& tree, const std::string& key) {
  static const std::pair<const char*, StoredArray<std::int64_t> StoredTree::*> kArrays[] = {
      {"left_children", &StoredTree::left_children},       {"right_children", &StoredTree::right_children},
      {"split_indices", &StoredTree::split_indices},       {"split_type", &StoredTree::split_type},
      {"default_left", &StoredTree::default_left},         {"categories", &StoredTree::categories},
      {"categories_nodes", &StoredTree::categories_nodes}, {"categories_segments", &StoredTree::categories_segments},
      {"categories_sizes", &StoredTree::categories_sizes},
  };
  for (auto [name, member] : kArrays) {
    if (key == name) return &(tree.*member);
  }
  return nullptr;
}

StoredArray<double>* real_array(StoredTree& tree, const std::string& key) {
  if (key == "split_conditions") return &tree.split_conditions;
  if (key == "base_weights") return &tree.base_weights;
  return nullptr;
}

}  // namespace

ModelEvents::ModelEvents(const std::string& path) : booster_trees_(path), dart_trees_(path) {}

ModelEvents::Frame ModelEvents::frame(Kind kind, Json* value, std::string name) {
  Frame made;
  made.kind = kind;
  made.value = value;
  made.name = std::move(name);
  return made;
}

void ModelEvents::restart() {
  document_ = nullptr;
  frames_.clear();
  stored_.restart();
  booster_trees_.restart();
  dart_trees_.restart();
}

bool ModelEvents::key(string_t& value) {
  if (!frames_.empty()) frames_.back().key = std::move(value);
  return true;
}

Json* ModelEvents::place(Json value) {
  Frame& top = frames_.back();
  if (top.value->is_object()) {
    Json& slot = (*top.value)[top.key];
    slot = std::move(value);
    return &slot;
  }
  top.value->push_back(std::move(value));
  return &top.value->back();
}

bool ModelEvents::scalar(Json value) {
  if (frames_.empty()) {
    document_ = std::move(value);
    return true;
  }
  Frame& top = frames_.back();
  switch (top.kind) {
    case Kind::kValue: place(std::move(value)); break;
    case Kind::kTreeList:
      stored_.restart();
      stored_.is_object = false;
      top.list->add(stored_);
      break;
    case Kind::kTree: tree_member_scalar(top.key, std::move(value)); break;
    case Kind::kIntegers: {
      bool flag = top.integers == &stored_.default_left && value.is_boolean();
      if (value.is_number_integer() || flag) {
        top.integers->values.push_back(flag ? std::int64_t{value.get<bool>()} : value.get<std::int64_t>());
      } else {
        top.integers->unreadable = true;
      }
      break;
    }
    case Kind::kReals: {
      std::optional<double> real = real_value(value);
      if (real) {
        top.reals->values.push_back(*real);
      } else {
        top.reals->unreadable = true;
      }
      break;
    }
    case Kind::kSkipped: break;
  }
  return true;
}

std::optional<TreeModelPlace> ModelEvents::tree_list_place() const {
  static const std::vector<std::string> kBoosterPath{"", "learner", "gradient_booster", "model"};
  static const std::vector<std::string> kDartPath{"", "learner", "gradient_booster", "gbtree", "model"};
  auto at = [this](const std::vector<std::string>& path) {
    if (frames_.size() != path.size()) return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
      const Frame& frame = frames_[i];
      if (frame.kind != Kind::kValue || !frame.value->is_object() || frame.name != path[i]) return false;
    }
    return true;
  };
  if (at(kBoosterPath)) return TreeModelPlace::kBooster;
  if (at(kDartPath)) return TreeModelPlace::kDartGbtree;
  return std::nullopt;
}

bool ModelEvents::open(Json container) {
  if (frames_.empty()) {
    document_ = std::move(container);
    frames_.push_back(frame(Kind::kValue, &document_));
    return true;
  }
  Frame& top = frames_.back();
  bool is_object = container.is_object();
  switch (top.kind) {
    case Kind::kValue: {
      std::string name = top.value->is_object() ? top.key : std::string();
      std::optional<TreeModelPlace> trees_place = !is_object && name == "trees" ? tree_list_place() : std::nullopt;
      Json* stored = place(std::move(container));
      if (trees_place) {
        XgboostTreeList& list = trees(*trees_place);
        list.restart();
        frames_.push_back(frame(Kind::kTreeList));
        frames_.back().list = &list;
      } else {
        frames_.push_back(frame(Kind::kValue, stored, std::move(name)));
      }
      return true;
    }
    case Kind::kTreeList:
      stored_.restart();
      if (is_object) {
        frames_.push_back(frame(Kind::kTree));
        return true;
      }
      stored_.is_object = false;
      top.list->add(stored_);
      break;
    case Kind::kTree: frames_.push_back(tree_member_container(top.key, std::move(container))); return true;
    case Kind::kIntegers: top.integers->unreadable = true; break;
    case Kind::kReals: top.reals->unreadable = true; break;
    case Kind::kSkipped: break;
  }
  frames_.push_back(frame(Kind::kSkipped));
  return true;
}

bool ModelEvents::close() {
  if (frames_.empty()) return true;
  Kind closed = frames_.back().kind;
  frames_.pop_back();
  if (closed == Kind::kTree && !frames_.empty()) frames_.back().list->add(stored_);
  return true;
}

void ModelEvents::tree_member_scalar(const std::string& key, Json value) {
  if (StoredArray<std::int64_t>* integers = integer_array(stored_, key)) {
    integers->restart(false);
  } else if (StoredArray<double>* reals = real_array(stored_, key)) {
    reals->restart(false);
  } else if (key == "tree_param") {
    stored_.tree_param = std::move(value);
  }
}

ModelEvents::Frame ModelEvents::tree_member_container(const std::string& key, Json container) {
  bool is_array = container.is_array();
  if (StoredArray<std::int64_t>* integers = integer_array(stored_, key)) {
    integers->restart(is_array);
    if (is_array) {
      Frame made = frame(Kind::kIntegers);
      made.integers = integers;
      return made;
    }
  } else if (StoredArray<double>* reals = real_array(stored_, key)) {
    reals->restart(is_array);
    if (is_array) {
      Frame made = frame(Kind::kReals);
      made.reals = reals;
      return made;
    }
  } else if (key == "tree_param") {
    stored_.tree_param = std::move(container);
    return frame(Kind::kValue, &stored_.tree_param);
  }
  return frame(Kind::kSkipped);
}

}  // namespace tarnwick
