#include "base/decode_budget.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarnwick {
namespace {

TEST(DecodeBudget, AllowsTheStatedMultipleOfTheBytesPlusTheConstant) {
  struct Case {
    std::uint64_t bytes;
    std::uint64_t allowance;
  };
  for (const Case& c : {Case{0, 65536}, Case{1, 65537}, Case{1000000, 1065536},
                        Case{std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::uint64_t>::max()}}) {
    EXPECT_EQ(DecodeBudget(c.bytes).allowance(), c.allowance) << c.bytes << " bytes";
  }
}

TEST(DecodeBudget, CountsEveryDrawAndRefusesTheFirstPastTheAllowance) {
  DecodeBudget budget(100);
  ASSERT_TRUE(budget.draw(65000, "table entries").is_ok());
  ASSERT_TRUE(budget.draw(636, "vector items").is_ok());
  EXPECT_EQ(budget.drawn(), 65636u);
  Status refused = budget.draw(1, "vector items");
  ASSERT_FALSE(refused.is_ok());
  EXPECT_EQ(refused.message(), "decoding vector items exceeded the budget of 65636 elements for 100 input bytes");
  EXPECT_EQ(budget.drawn(), 65636u) << "a refused draw takes nothing";
  EXPECT_TRUE(budget.draw(0, "nothing").is_ok());
}

TEST(DecodeBudget, ADrawLargerThanWhatIsLeftCannotWrapAround) {
  DecodeBudget budget(0);
  ASSERT_TRUE(budget.draw(10, "items").is_ok());
  EXPECT_FALSE(budget.draw(std::numeric_limits<std::uint64_t>::max(), "items").is_ok());
  EXPECT_FALSE(budget.draw(65527, "items").is_ok());
  EXPECT_TRUE(budget.draw(65526, "items").is_ok());
  EXPECT_EQ(budget.drawn(), budget.allowance());
}

}  // namespace
}  // namespace tarnwick
