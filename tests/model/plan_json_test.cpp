#include "model/plan_json.h"

#include <gtest/gtest.h>

#include <cstring>

#include "model/model.h"

namespace tarnwick {
namespace {

using Type = PlanValue::Type;

std::vector<PlanValue> elements(const PlanValue& array) {
  std::vector<PlanValue> seen;
  Status visited = for_each_item(array, [&](const PlanValue& item) {
    seen.push_back(item);
    return Status::ok();
  });
  EXPECT_TRUE(visited.is_ok());
  return seen;
}

TEST(PlanJson, NumbersInArraysReadAsTheParserReadsThem) {
  // Each token as an object member (read by the parser) and as an array element (read again
  // from its run of text) must give the same value.
  const char* tokens[] = {"0",
                          "-0",
                          "7",
                          "-7",
                          "18446744073709551615",
                          "18446744073709551616",
                          "9223372036854775807",
                          "-9223372036854775808",
                          "-9223372036854775809",
                          "1.5",
                          "-2.5e+3",
                          "1E2",
                          "0.1",
                          "1e-400",
                          "4e-320",
                          "123456789012345678901234567890",
                          "3.4028235677973366e38"};
  for (const char* token : tokens) {
    const std::string member_text = std::string("{\"k\": ") + token + "}";
    const std::string array_text = std::string("[") + token + "]";  // the runs point into it
    Result<PlanValue> member = parse_plan_json(member_text);
    Result<PlanValue> array = parse_plan_json(array_text);
    ASSERT_TRUE(member.is_ok() && array.is_ok()) << token;
    const PlanValue& expected = member.value().members.at(0).value;
    ASSERT_EQ(item_count(array.value()), 1u);
    std::vector<PlanValue> read = elements(array.value());
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].type, expected.type) << token;
    EXPECT_EQ(read[0].integer, expected.integer) << token;
    EXPECT_EQ(read[0].unsigned_integer, expected.unsigned_integer) << token;
    EXPECT_EQ(std::memcmp(&read[0].real, &expected.real, sizeof(double)), 0) << token;
    EXPECT_EQ(read[0].text, expected.text) << token;
  }
}

TEST(PlanJson, MixedArraysKeepOrderAndPositions) {
  std::string text =
      "[1, \"a\",\n"
      "  -2.5e1,3 ,[4],\n"
      "    null, 7\r\n"
      "]";
  Result<PlanValue> root = parse_plan_json(text);
  ASSERT_TRUE(root.is_ok()) << root.message();
  EXPECT_EQ(root.value().items.size(), 3u) << "only the values that are not numbers are nodes";
  EXPECT_EQ(item_count(root.value()), 7u);
  std::vector<PlanValue> read = elements(root.value());
  ASSERT_EQ(read.size(), 7u);
  struct Expected {
    Type type;
    std::size_t line, column;
  };
  const Expected expected[] = {{Type::Unsigned, 1, 2}, {Type::String, 1, 7}, {Type::Float, 2, 3},
                               {Type::Unsigned, 2, 10}, {Type::Array, 2, 15}, {Type::Null, 3, 8},
                               {Type::Unsigned, 3, 11}};
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].type, expected[i].type) << i;
    EXPECT_EQ(read[i].line, expected[i].line) << i;
    EXPECT_EQ(read[i].column, expected[i].column) << i;
  }
  EXPECT_EQ(read[2].real, -25.0);
  EXPECT_EQ(read[6].unsigned_integer, 7u);
  EXPECT_EQ(elements(read[4]).at(0).column, 14u);

  // A visit stops at the first error and hands it back.
  std::size_t visits = 0;
  Status stopped = for_each_item(root.value(), [&](const PlanValue& item) -> Status {
    ++visits;
    if (item.type == Type::Float) return error_at(item, "stop");
    return Status::ok();
  });
  EXPECT_EQ(stopped.message(), "stop at line 2 column 3");
  EXPECT_EQ(visits, 3u);
}

// Nodes in the tree below `value`, itself included.
std::size_t node_count(const PlanValue& value) {
  std::size_t count = 1;
  for (const PlanValue& item : value.items) count += node_count(item);
  for (const PlanMember& member : value.members) count += node_count(member.value);
  return count;
}

TEST(PlanJson, MillionsOfNumbersBuildNoNodeEach) {
  // The hostile shape of a plan whose input holds a number every two bytes.
  constexpr std::size_t kValues = 200000;
  std::string plan = "{\"input\": {\"shape\": [1, " + std::to_string(kValues) + "], \"data\": [";
  for (std::size_t i = 0; i < kValues; ++i) plan += i ? ",0" : "0";
  plan += "]}, \"layers\": [{\"type\": \"relu\"}]}";
  Result<PlanValue> root = parse_plan_json(plan);
  ASSERT_TRUE(root.is_ok()) << root.message();
  EXPECT_LE(node_count(root.value()), 8u);
  const PlanValue& data = root.value().members.at(0).value.members.at(1).value;
  ASSERT_EQ(data.number_runs.size(), 1u);
  EXPECT_EQ(data.number_runs[0].count, kValues);
  EXPECT_EQ(data.number_runs[0].text.size(), 2 * kValues - 1);

  Result<Model> model = load_model_text("plan.json", plan);
  ASSERT_TRUE(model.is_ok()) << model.message();
  EXPECT_EQ(model.value().input.data.size(), kValues);
  EXPECT_LE(model.value().input.data.capacity(), kValues) << "the values are read into their tensor once";

  // A string in the middle of the numbers is still found where it stands.
  std::string broken = plan;
  broken.replace(broken.find(",0", broken.size() / 2), 2, ",\"x\"");
  std::size_t column = broken.find("\"x\"") + 3;
  EXPECT_EQ(load_model_text("plan.json", broken).message(),
            "parse plan.json: invalid type: string \"x\", expected f32 at line 1 column " + std::to_string(column));
}

}  // namespace
}  // namespace tarnwick
