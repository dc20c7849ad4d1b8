#include "base/number_parse.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/inspector_args.h"

namespace tarnwick {
namespace {

TEST(NumberParse, UnsignedCountsAndReasons) {
  struct Case {
    const char* text;
    std::uint64_t value;
    const char* reason;  // nullptr when it parses
  };
  const Case cases[] = {
      {"0", 0, nullptr},
      {"+7", 7, nullptr},
      {"18446744073709551615", 18446744073709551615ULL, nullptr},
      {"", 0, "cannot parse integer from empty string"},
      {"+", 0, "invalid digit found in string"},
      {"-", 0, "invalid digit found in string"},
      {"-1", 0, "invalid digit found in string"},
      {"3x", 0, "invalid digit found in string"},
      {" 3", 0, "invalid digit found in string"},
      {"1.5", 0, "invalid digit found in string"},
      {"++1", 0, "invalid digit found in string"},
      {"18446744073709551616", 0, "number too large to fit in target type"},
      {"99999999999999999999x", 0, "number too large to fit in target type"},
  };
  for (const Case& c : cases) {
    Result<std::uint64_t> parsed = parse_unsigned(c.text);
    if (c.reason == nullptr) {
      ASSERT_TRUE(parsed.is_ok()) << c.text;
      EXPECT_EQ(parsed.value(), c.value) << c.text;
    } else {
      ASSERT_FALSE(parsed.is_ok()) << c.text;
      EXPECT_EQ(parsed.message(), c.reason) << c.text;
    }
  }
  EXPECT_EQ(parse_limit_value("3x").message(), "parse --limit: invalid digit found in string");
}

TEST(NumberParse, SignedAndReal) {
  EXPECT_EQ(parse_signed("-1").value(), -1);
  EXPECT_EQ(parse_signed("+12").value(), 12);
  EXPECT_EQ(parse_signed("-9223372036854775808").value(), INT64_MIN);
  EXPECT_EQ(parse_signed("9223372036854775808").message(), "number too large to fit in target type");
  EXPECT_EQ(parse_signed("-9223372036854775809").message(), "number too small to fit in target type");

  EXPECT_EQ(parse_real("0.05").value(), 0.05);
  EXPECT_EQ(parse_real("+1e3").value(), 1000.0);
  EXPECT_EQ(parse_real(".5").value(), 0.5);
  EXPECT_EQ(parse_real("5.").value(), 5.0);
  EXPECT_EQ(parse_real("-0").value(), 0.0);
  EXPECT_TRUE(std::signbit(parse_real("-0").value()));
  EXPECT_TRUE(std::isinf(parse_real("1e400").value()));
  EXPECT_EQ(parse_real("1e-400").value(), 0.0);
  EXPECT_TRUE(std::isinf(parse_real("-Infinity").value()));
  EXPECT_TRUE(std::isnan(parse_real("NaN").value()));
  for (const char* bad : {"abc", "1e", ".", "1,5", " 1", "0x10", "1 ", "e5", "--1"}) {
    EXPECT_EQ(parse_real(bad).message(), "invalid float literal") << bad;
  }
  EXPECT_EQ(parse_real("").message(), "cannot parse float from empty string");
}

TEST(InspectorArgs, ScansOptionsAnywhere) {
  Result<InspectorArgs> scanned =
      scan_inspector_args({"a.cbm", "--limit", "+7", "--json", "b.cbm"}, DeepOption::Accepted);
  ASSERT_TRUE(scanned.is_ok());
  EXPECT_EQ(scanned.value().limit, 7u);
  EXPECT_TRUE(scanned.value().json);
  EXPECT_EQ(scanned.value().paths, (std::vector<std::string>{"a.cbm", "b.cbm"}));
  EXPECT_EQ(scan_inspector_args({"--limit", "1", "--limit", "4"}, DeepOption::Accepted).value().limit, 4u);
  EXPECT_EQ(scan_inspector_args({"a", "--limit"}, DeepOption::Accepted).message(), "--limit needs a number");
  EXPECT_EQ(scan_inspector_args({"--deep", "--limit"}, DeepOption::Refused).message(), kDeepOnlyForCatboost);
}

}  // namespace
}  // namespace tarnwick
