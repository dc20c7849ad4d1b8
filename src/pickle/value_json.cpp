#include "pickle/value_json.h"

#include "base/text.h"

namespace tarnwick::pickle {

namespace {

constexpr int kMaxDepth = 8;
constexpr int kMaxNodes = 10000;

std::string key_text(const Value& key) {
  if (key.kind == Kind::kStr) return key.text;
  if (key.kind == Kind::kInt) return std::to_string(key.integer);
  return "<key>";
}

Json to_json(const Machine& machine, ValueId id, int depth, int& budget) {
  const Value& value = machine.at(id);
  switch (value.kind) {
    case Kind::kNone: return nullptr;
    case Kind::kBool: return value.integer != 0;
    case Kind::kInt: return value.integer;
    case Kind::kFloat: return json_real(value.real);
    case Kind::kStr: return decode_utf8_lossy(value.text);
    case Kind::kBigInt: return value.big_int_binary ? Json("<int>") : Json(value.text);
    case Kind::kGlobal: return value.text + "." + value.name;
    default: break;
  }
  if (depth >= kMaxDepth || --budget < 0) return "...";
  if (value.kind == Kind::kDict) {
    Json object = Json::object();
    for (std::size_t i = 0; i + 1 < value.entries.size(); i += 2) {
      object[decode_utf8_lossy(key_text(machine.at(value.entries[i])))] =
          to_json(machine, value.entries[i + 1], depth + 1, budget);
    }
    return object;
  }
  if (value.kind == Kind::kList || value.kind == Kind::kTuple) {
    Json array = Json::array();
    for (ValueId item : value.items) array.push_back(to_json(machine, item, depth + 1, budget));
    return array;
  }
  return "<object>";
}

}  // namespace

Json value_json(const Machine& machine, ValueId id) {
  int budget = kMaxNodes;
  return to_json(machine, id, 0, budget);
}

}  // namespace tarnwick::pickle
