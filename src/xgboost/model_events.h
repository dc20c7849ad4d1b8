// The events of an XGBoost model document, gathered into what the model reader needs: a value
// tree of everything but the trees, and the trees read one by one as their objects end, so the
// per-node arrays of a large model never become a value tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/json_output.h"
#include "xgboost/xgboost_document.h"
#include "xgboost/xgboost_trees.h"

namespace tarnwick {

// Where a booster keeps its tree model: learner.gradient_booster.model (gbtree), or
// learner.gradient_booster.gbtree.model (dart).
enum class TreeModelPlace { kBooster, kDartGbtree };

class ModelEvents final : public DocumentEvents {
 public:
  explicit ModelEvents(const std::string& path);

  // The document, each "trees" list at a tree model's place standing as an empty array.
  const Json& document() const { return document_; }
  XgboostTreeList& trees(TreeModelPlace place) {
    return place == TreeModelPlace::kBooster ? booster_trees_ : dart_trees_;
  }

  void restart() override;

  bool null() override { return scalar(nullptr); }
  bool boolean(bool value) override { return scalar(value); }
  bool number_integer(number_integer_t value) override { return scalar(value); }
  bool number_unsigned(number_unsigned_t value) override { return scalar(value); }
  bool number_float(number_float_t value, const string_t&) override { return scalar(value); }
  bool string(string_t& value) override { return scalar(std::move(value)); }
  bool binary(binary_t& value) override { return scalar(Json::binary(std::move(value))); }
  bool key(string_t& value) override;
  bool start_object(std::size_t) override { return open(Json::object()); }
  bool start_array(std::size_t) override { return open(Json::array()); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  enum class Kind {
    kValue,     // a container of the value tree
    kTreeList,  // a "trees" list at a tree model's place
    kTree,      // one of its tree objects
    kIntegers,  // an integer array of that tree
    kReals,     // a real array of that tree
    kSkipped,   // a container nobody needs
  };
  struct Frame {
    Kind kind = Kind::kSkipped;
    Json* value = nullptr;            // kValue: the container being filled
    std::string key;                  // kValue objects and kTree: the key of the value to come
    std::string name;                 // kValue: the key it is stored under in its parent object, else empty
    XgboostTreeList* list = nullptr;  // kTreeList
    StoredArray<std::int64_t>* integers = nullptr;  // kIntegers
    StoredArray<double>* reals = nullptr;           // kReals
  };

  static Frame frame(Kind kind, Json* value = nullptr, std::string name = {});
  bool scalar(Json value);
  bool open(Json container);
  bool close();
  Json* place(Json value);
  std::optional<TreeModelPlace> tree_list_place() const;
  void tree_member_scalar(const std::string& key, Json value);
  Frame tree_member_container(const std::string& key, Json container);

  Json document_;
  std::vector<Frame> frames_;
  StoredTree stored_;
  XgboostTreeList booster_trees_;
  XgboostTreeList dart_trees_;
};

}  // namespace tarnwick
