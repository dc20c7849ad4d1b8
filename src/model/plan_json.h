// A JSON value tree that remembers where each value lies, for typed reading with positions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"

namespace tarnwick {

struct PlanMember;

// Numbers that follow one another in an array, kept as the text they were written in and read
// again when the array is visited: a tree node per number would cost many times the file.
struct NumberRun {
  std::size_t before = 0;            // how many of the array's `items` come before the run
  std::string_view text;             // from the first number's first character to the last's last
  std::size_t count = 0;
  std::size_t line = 1, column = 0;  // where the first number starts
};

struct PlanValue {
  enum class Type { Null, Boolean, Integer, Unsigned, Float, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  std::int64_t integer = 0;
  std::uint64_t unsigned_integer = 0;
  double real = 0.0;
  std::string text;                  // string value, or the number as written
  std::vector<PlanValue> items;      // array elements other than the numbers in `number_runs`
  std::vector<NumberRun> number_runs;
  std::vector<PlanMember> members;   // object members in file order
  std::size_t line = 1, column = 0;  // where the value ended; for a number, where it starts
};

struct PlanMember {
  std::string key;
  PlanValue value;
};

// How many elements an array has, numbers included.
std::size_t item_count(const PlanValue& array);
// Hands each element of an array to `visit` in file order, a number as a value of its own that
// lives for the call, and stops at the first error.
Status for_each_item(const PlanValue& array, const std::function<Status(const PlanValue&)>& visit);

// Parses JSON text; errors read "{reason} at line {} column {}". Nesting deeper than
// kMaxPlanNesting is refused so that no recursive walk can exhaust the stack. The tree's number
// runs are views into `text`, which must outlive it.
Result<PlanValue> parse_plan_json(std::string_view text);
Result<PlanValue> parse_plan_json(std::string&& text) = delete;
inline constexpr std::size_t kMaxPlanNesting = 128;

// "invalid type: ..., expected {expected} at line L column C" for a value of another type.
Error invalid_type(const PlanValue& value, const std::string& expected);
Error error_at(const PlanValue& value, const std::string& message);

}  // namespace tarnwick
