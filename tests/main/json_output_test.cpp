#include "main/json_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "main/change_json.h"

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

TEST(JsonOutput, InvalidUtf8IsASerialisationErrorAndPrintsNothing) {
  std::ostringstream out;
  Status status = print_json_document(out, Json{{"bad", "\xFF"}});
  ASSERT_FALSE(status.is_ok());
  EXPECT_EQ(status.message().rfind("serialize JSON: ", 0), 0u);
  EXPECT_EQ(out.str(), "");
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
