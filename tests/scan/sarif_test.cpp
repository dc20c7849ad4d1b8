// `scan --sarif FILE`: the document holds every property SARIF 2.1.0 requires of the objects
// written (log, run, tool, toolComponent, reportingDescriptor, result, location), each of its
// type, and one result per finding at the level the policy gives it.
#include <gtest/gtest.h>

#include <set>

#include "base/json_output.h"
#include "base/program_version.h"
#include "scan/sarif.h"
#include "scan/scan_files.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::pickle_calling;
using testing::run_command;

enum class JsonType { kString, kInteger, kArray, kObject };

bool has_type(const Json& value, JsonType type) {
  switch (type) {
    case JsonType::kString: return value.is_string();
    case JsonType::kInteger: return value.is_number_integer();
    case JsonType::kArray: return value.is_array();
    case JsonType::kObject: return value.is_object();
  }
  return false;
}

struct Required {
  const char* pointer;  // {rule} and {result} stand for each rule and each result
  JsonType type;
};

// The properties the SARIF 2.1.0 schema marks required for these objects, and the ones the
// code-scanning services need to place a result.
const std::vector<Required> kRequired = {
    {"/$schema", JsonType::kString},
    {"/version", JsonType::kString},
    {"/runs", JsonType::kArray},
    {"/runs/0", JsonType::kObject},
    {"/runs/0/tool", JsonType::kObject},
    {"/runs/0/tool/driver", JsonType::kObject},
    {"/runs/0/tool/driver/name", JsonType::kString},
    {"/runs/0/tool/driver/version", JsonType::kString},
    {"/runs/0/tool/driver/rules", JsonType::kArray},
    {"/runs/0/results", JsonType::kArray},
    {"{rule}/id", JsonType::kString},
    {"{rule}/name", JsonType::kString},
    {"{rule}/shortDescription", JsonType::kObject},
    {"{rule}/shortDescription/text", JsonType::kString},
    {"{rule}/defaultConfiguration", JsonType::kObject},
    {"{rule}/defaultConfiguration/level", JsonType::kString},
    {"{result}/ruleId", JsonType::kString},
    {"{result}/ruleIndex", JsonType::kInteger},
    {"{result}/level", JsonType::kString},
    {"{result}/message", JsonType::kObject},
    {"{result}/message/text", JsonType::kString},
    {"{result}/locations", JsonType::kArray},
    {"{result}/locations/0/physicalLocation", JsonType::kObject},
    {"{result}/locations/0/physicalLocation/artifactLocation", JsonType::kObject},
    {"{result}/locations/0/physicalLocation/artifactLocation/uri", JsonType::kString},
};

// Every problem with the required properties, one a line.
std::string structure_problems(const Json& sarif) {
  std::string problems;
  auto check = [&](const std::string& pointer, JsonType type) {
    Json::json_pointer at(pointer);
    if (!sarif.contains(at)) {
      problems += pointer + " missing\n";
    } else if (!has_type(sarif.at(at), type)) {
      problems += pointer + " has the wrong type\n";
    }
  };
  std::size_t rules = sarif.value(Json::json_pointer("/runs/0/tool/driver/rules"), Json::array()).size();
  std::size_t results = sarif.value(Json::json_pointer("/runs/0/results"), Json::array()).size();
  for (const Required& required : kRequired) {
    std::string pointer = required.pointer;
    if (pointer.starts_with("{rule}")) {
      for (std::size_t i = 0; i < rules; ++i) {
        check("/runs/0/tool/driver/rules/" + std::to_string(i) + pointer.substr(6), required.type);
      }
    } else if (pointer.starts_with("{result}")) {
      for (std::size_t i = 0; i < results; ++i) check("/runs/0/results/" + std::to_string(i) + pointer.substr(8), required.type);
    } else {
      check(pointer, required.type);
    }
  }
  const std::set<std::string> levels = {"none", "note", "warning", "error"};
  for (std::size_t i = 0; i < results; ++i) {
    const Json& result = sarif["runs"][0]["results"][i];
    if (!levels.contains(result.value("level", ""))) problems += "result " + std::to_string(i) + " has no SARIF level\n";
    std::size_t index = result.value("ruleIndex", rules);
    if (index >= rules || sarif["runs"][0]["tool"]["driver"]["rules"][index]["id"] != result["ruleId"]) {
      problems += "result " + std::to_string(i) + ": ruleIndex does not point at ruleId\n";
    }
  }
  return problems;
}

TEST(Sarif, EveryRequiredPropertyIsPresentAndTyped) {
  testing::TempDir dir;
  std::string mixed = dir.write("mixed model.pkl", pickle_calling({{"torch.nn.modules.linear", "Linear"},
                                                                   {"sklearn.svm._classes", "SVC"},
                                                                   {"posix", "system"}}));
  std::string cut = dir.write("cut.pkl", testing::clean_state_dict().substr(0, 40));
  std::string sarif_path = (dir.path() / "scan.sarif").string();
  testing::CommandRun run = run_command({"scan", "--sarif", sarif_path, mixed, cut});
  EXPECT_EQ(run.status, 1);
  Json sarif = Json::parse(testing::read_file(sarif_path));
  EXPECT_EQ(structure_problems(sarif), "");
  EXPECT_EQ(sarif["$schema"], "https://json.schemastore.org/sarif-2.1.0.json");
  EXPECT_EQ(sarif["version"], "2.1.0");
  EXPECT_EQ(sarif["runs"][0]["tool"]["driver"]["version"], std::string(program_version()));
  std::vector<std::string> results;
  for (const Json& result : sarif["runs"][0]["results"]) {
    results.push_back(result["ruleId"].get<std::string>() + " " + result["level"].get<std::string>() + " " +
                      testing::with_dir_placeholder(
                          result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"].get<std::string>(), dir));
  }
  EXPECT_EQ(results, (std::vector<std::string>{"framework note file://<dir>/mixed%20model.pkl",
                                               "unknown error file://<dir>/mixed%20model.pkl",
                                               "dangerous error file://<dir>/mixed%20model.pkl",
                                               "unscannable error file://<dir>/cut.pkl"}));
  // The levels follow the policy.
  run_command({"scan", "--fail-on", "dangerous", "--sarif", sarif_path, mixed});
  sarif = Json::parse(testing::read_file(sarif_path));
  EXPECT_EQ(structure_problems(sarif), "");
  EXPECT_EQ(sarif["runs"][0]["results"][1]["level"], "warning");
  EXPECT_EQ(sarif["runs"][0]["tool"]["driver"]["rules"][1]["defaultConfiguration"]["level"], "warning");
}

TEST(Sarif, TheCheckCatchesAMissingOrMistypedProperty) {
  testing::TempDir dir;
  std::string file = dir.write("a.pkl", pickle_calling({{"os", "system"}}));
  std::string sarif_path = (dir.path() / "scan.sarif").string();
  run_command({"scan", "--sarif", sarif_path, file});
  Json sarif = Json::parse(testing::read_file(sarif_path));
  sarif["runs"][0]["results"][0].erase("message");
  sarif["runs"][0]["tool"]["driver"]["rules"][2]["id"] = 3;
  EXPECT_EQ(structure_problems(sarif),
            "/runs/0/tool/driver/rules/2/id has the wrong type\n"
            "/runs/0/results/0/message missing\n"
            "/runs/0/results/0/message/text missing\n");
}

TEST(Sarif, PathsBecomeUriReferences) {
  EXPECT_EQ(scan::path_uri("models/a b.pt"), "models/a%20b.pt");
  EXPECT_EQ(scan::path_uri("/tmp/x#1.pkl"), "file:///tmp/x%231.pkl");
  EXPECT_EQ(scan::path_uri("-"), "-");
}

}  // namespace
}  // namespace tarnwick
