#include "base/json_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "base/change_json.h"

namespace tarnwick {
namespace {

std::string printed(const Json& document) {
  std::ostringstream out;
  EXPECT_TRUE(print_json_document(out, document).is_ok());
  return out.str();
}

TEST(JsonOutput, PrettyFormSortedKeysAndEscapes) {
  Json document;
  document["old"] = 1;
  document["new"] = 2.0;
  document["changed"] = true;
  document["Zeta"] = "tab\there \xC3\xA9 / \x01";
  document["a_b"] = Json::object();
  document["ab"] = Json::array();
  document["nan"] = json_real(std::nan(""));
  document["inf"] = json_real(std::numeric_limits<double>::infinity());
  document["list"] = {0.1, -3, 1e21};
  EXPECT_EQ(printed(document),
            "{\n"
            "  \"Zeta\": \"tab\\there \xC3\xA9 / \\u0001\",\n"
            "  \"a_b\": {},\n"
            "  \"ab\": [],\n"
            "  \"changed\": true,\n"
            "  \"inf\": null,\n"
            "  \"list\": [\n"
            "    0.1,\n"
            "    -3,\n"
            "    1e+21\n"
            "  ],\n"
            "  \"nan\": null,\n"
            "  \"new\": 2.0,\n"
            "  \"old\": 1\n"
            "}\n");
}

TEST(JsonOutput, OrderedDocumentsKeepInsertionOrderAndArraysWrapDocuments) {
  OrderedJson record;
  record["path"] = "m.txt";
  record["bytes"] = 7;
  std::ostringstream out;
  ASSERT_TRUE(print_json_document(out, record).is_ok());
  EXPECT_EQ(out.str(), "{\n  \"path\": \"m.txt\",\n  \"bytes\": 7\n}\n");

  std::ostringstream array_out;
  ASSERT_TRUE(print_json_array(array_out, {Json{{"k", 1}}, Json::object()}).is_ok());
  EXPECT_EQ(array_out.str(), "[\n  {\n    \"k\": 1\n  },\n  {}\n]\n");
}

TEST(JsonOutput, InvalidUtf8IsReplacedNotAnError) {
  // A file name that is not UTF-8 still gives a report: each invalid sequence reads U+FFFD.
  std::ostringstream out;
  ASSERT_TRUE(print_json_document(out, Json{{"path", "m\xFF\xC3.onnx"}, {"\xFEkey", 1}}).is_ok());
  EXPECT_EQ(out.str(), "{\n  \"path\": \"m\xEF\xBF\xBD\xEF\xBF\xBD.onnx\",\n  \"\xEF\xBF\xBDkey\": 1\n}\n");
}

TEST(JsonOutput, DoublesAreTheShortestTextThatReadsBack) {
  struct Case {
    double value;
    std::string printed;
  };
  const Case cases[] = {
      {1e23, "1e+23"},
      {5e22, "5e+22"},
      {4.147e-10, "4.147e-10"},
      {0.1, "0.1"},
      {0.05, "0.05"},
      {1.0, "1.0"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {250.0, "250.0"},
      {1e15, "1e+15"},
      {123456789012345.0, "123456789012345.0"},
      {1e21, "1e+21"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {1.5e-7, "1.5e-07"},
      {-2.5e100, "-2.5e+100"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {0.30000000000000004, "0.30000000000000004"},
      {3.14159, "3.14159"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    ASSERT_TRUE(print_json_document(out, Json(c.value)).is_ok());
    EXPECT_EQ(out.str(), c.printed + "\n") << c.printed;
    EXPECT_EQ(std::strtod(c.printed.c_str(), nullptr), c.value) << c.printed << " reads back";
  }
}

TEST(ChangeJson, CountDeltaBelowTheSignedRangeIsExact) {
  struct Case {
    std::uint64_t old_count, new_count;
    std::string delta;
  };
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const Case cases[] = {
      {kMax, 0, "-18446744073709551615"},
      {kMax, 1, "-18446744073709551614"},
      {9223372036854775809ULL, 0, "-9223372036854775809"},
      {9223372036854775808ULL, 0, "-9223372036854775808"},
      {9223372036854775807ULL, 0, "-9223372036854775807"},
      {0, kMax, "18446744073709551615"},
      {5, 3, "-2"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    ASSERT_TRUE(print_json_document(out, count_change_json(c.old_count, c.new_count)).is_ok());
    EXPECT_EQ(out.str(), "{\n  \"changed\": true,\n  \"delta\": " + c.delta + ",\n  \"new\": " +
                             std::to_string(c.new_count) + ",\n  \"old\": " + std::to_string(c.old_count) + "\n}\n");
  }
}

TEST(ChangeJson, RealsEqualToThemselvesAreUnchanged) {
  double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(float_change_json(nan, nan).dump(), R"({"changed":false,"delta":null,"new":null,"old":null})");
  EXPECT_EQ(float_change_json(inf, inf).dump(), R"({"changed":false,"delta":null,"new":null,"old":null})");
  EXPECT_EQ(float_change_json(nan, 1.0).dump(), R"({"changed":true,"delta":null,"new":1.0,"old":null})");
}

TEST(ChangeJson, EntriesCompareAbsentAndPresentValues) {
  EXPECT_EQ(count_change_json(5, 3).dump(), R"({"changed":true,"delta":-2,"new":3,"old":5})");
  EXPECT_EQ(count_change_json(std::nullopt, std::nullopt).dump(),
            R"({"changed":false,"delta":null,"new":null,"old":null})");
  EXPECT_EQ(count_change_json(std::nullopt, 3).dump(), R"({"changed":true,"delta":null,"new":3,"old":null})");
  EXPECT_EQ(count_change_json(0, std::numeric_limits<std::uint64_t>::max()).dump(),
            R"({"changed":true,"delta":18446744073709551615,"new":18446744073709551615,"old":0})");
  EXPECT_EQ(float_change_json(0.5, 0.25).dump(), R"({"changed":true,"delta":-0.25,"new":0.25,"old":0.5})");
  EXPECT_EQ(text_change_json(std::string("a"), std::string("a")).dump(), R"({"changed":false,"new":"a","old":"a"})");
  EXPECT_EQ(fingerprint_change_json(std::nullopt, 1).dump(),
            R"({"changed":true,"new":"0x0000000000000001","old":null})");
  EXPECT_EQ(fingerprint_change_json(std::nullopt, std::nullopt).dump(), R"({"changed":false,"new":null,"old":null})");
}

}  // namespace
}  // namespace tarnwick
