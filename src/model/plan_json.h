// A JSON value tree that remembers where each value lies, for typed reading with positions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "main/status.h"

namespace tarnwick {

struct PlanMember;

struct PlanValue {
  enum class Type { Null, Boolean, Integer, Unsigned, Float, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  std::int64_t integer = 0;
  std::uint64_t unsigned_integer = 0;
  double real = 0.0;
  std::string text;                  // string value, or the number as written
  std::vector<PlanValue> items;      // array elements
  std::vector<PlanMember> members;   // object members in file order
  std::size_t line = 1, column = 0;  // where the value ended; for a number, where it starts
};

struct PlanMember {
  std::string key;
  PlanValue value;
};

// Parses JSON text; errors read "{reason} at line {} column {}". Nesting deeper than
// kMaxPlanNesting is refused so that no recursive walk can exhaust the stack.
Result<PlanValue> parse_plan_json(const std::string& text);
inline constexpr std::size_t kMaxPlanNesting = 128;

// "invalid type: ..., expected {expected} at line L column C" for a value of another type.
Error invalid_type(const PlanValue& value, const std::string& expected);
Error error_at(const PlanValue& value, const std::string& message);

}  // namespace tarnwick
