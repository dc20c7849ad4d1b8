#include "tables/strict_json.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

std::string nested_arrays(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(StrictJson, EveryValueAndKeyIsDrawn) {
  struct Case {
    std::string text;
    std::uint64_t drawn;
  };
  for (const Case& c : {Case{"{}", 1}, Case{R"({"a": [1, 2, {"b": null}]})", 8}, Case{nested_arrays(3), 3}}) {
    DecodeBudget budget(c.text.size());
    ASSERT_TRUE(parse_strict_json(c.text, budget).is_ok()) << c.text;
    EXPECT_EQ(budget.drawn(), c.drawn) << c.text;
  }
}

TEST(StrictJson, NestingPastTheLimitIsRefused) {
  Result<OrderedJson> deepest = parse_strict_json(nested_arrays(DecodeBudget::kMaxValueNesting));
  EXPECT_TRUE(deepest.is_ok());
  for (std::size_t levels : {DecodeBudget::kMaxValueNesting + 1, std::size_t{100000}}) {
    Result<OrderedJson> deep = parse_strict_json(nested_arrays(levels));
    ASSERT_FALSE(deep.is_ok()) << levels;
    EXPECT_EQ(deep.message(), "invalid JSON: values nested deeper than 512 levels");
  }
  // A syntax error is still reported as the parser words it.
  std::string broken = parse_strict_json(nested_arrays(600) + "x").message();
  EXPECT_TRUE(broken.starts_with("invalid JSON: parse error at line 1, column 1201: syntax error")) << broken;
}

TEST(StrictJson, ValuesPastASharedBudgetAreRefused) {
  DecodeBudget budget(0);
  ASSERT_TRUE(budget.draw(65535, "earlier values").is_ok());
  Result<OrderedJson> parsed = parse_strict_json("[1]", budget);
  ASSERT_FALSE(parsed.is_ok());
  EXPECT_EQ(parsed.message(),
            "invalid JSON: decoding JSON values exceeded the budget of 65536 elements for 0 input bytes");
}

}  // namespace
}  // namespace tarnwick
