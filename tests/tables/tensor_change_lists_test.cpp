#include <gtest/gtest.h>

#include <algorithm>

#include "../safetensors/safetensors_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::SafetensorsTensor;

std::string section_of(const std::string& report) {
  std::size_t start = report.find("\nTensors added:");
  std::size_t end = report.find("\n\nSummary:");
  if (start == std::string::npos || end == std::string::npos) return report;
  return report.substr(start + 1, end - start);
}

std::string expected_names(const char* prefix, int from, int to, const char* suffix) {
  std::string text;
  for (int i = from; i < to; ++i) text += "  " + std::string(prefix) + std::to_string(i) + suffix + "\n";
  return text;
}

// Each list names its first 20 tensors, then counts the rest; names are escaped.
TEST(TensorChangeLists, ExplainDiffNamesTheFirstTwentyOfEachList) {
  testing::TempDir dir;
  std::vector<SafetensorsTensor> old_tensors, new_tensors;
  for (int i = 0; i < 23; ++i) {
    old_tensors.push_back({"kept." + std::to_string(i), "F32", {1}, testing::counting_bytes(4, 0)});
    new_tensors.push_back({"kept." + std::to_string(i), "F32", {1}, testing::counting_bytes(4, 1)});
  }
  for (int i = 0; i < 21; ++i) old_tensors.push_back({"gone." + std::to_string(i), "F16", {2}, std::string(4, '\0')});
  for (int i = 0; i < 25; ++i) new_tensors.push_back({"new." + std::to_string(i), "I8", {3}, std::string(3, '\0')});
  old_tensors.push_back({"cast\n", "F32", {2}, std::string(8, '\0')});
  new_tensors.push_back({"cast\n", "F16", {1, 2}, std::string(4, '\0')});
  std::string old_path = dir.write("old.safetensors", testing::safetensors_file(old_tensors));
  std::string new_path = dir.write("new.safetensors", testing::safetensors_file(new_tensors));

  testing::CommandRun run = testing::run_command({"explain-diff", old_path, new_path});
  ASSERT_EQ(run.status, 0) << run.err;
  // Added and removed in ascending byte order; changed in old file order.
  std::vector<std::string> added;
  for (int i = 0; i < 25; ++i) added.push_back("new." + std::to_string(i));
  std::sort(added.begin(), added.end());
  std::string added_lines;
  for (std::size_t i = 0; i < 20; ++i) added_lines += "  " + added[i] + " int8 [3]\n";
  std::vector<std::string> removed;
  for (int i = 0; i < 21; ++i) removed.push_back("gone." + std::to_string(i));
  std::sort(removed.begin(), removed.end());
  std::string removed_lines;
  for (std::size_t i = 0; i < 20; ++i) removed_lines += "  " + removed[i] + " float16 [2]\n";
  EXPECT_EQ(section_of(run.out), "Tensors added: 25\n" + added_lines + "  ... 5 more\n" +
                                     "Tensors removed: 21\n" + removed_lines + "  ... 1 more\n" +
                                     "Tensors changed: 24\n" + expected_names("kept.", 0, 20, ": values changed") +
                                     "  ... 4 more\n");

  testing::CommandRun cast = testing::run_command(
      {"explain-diff", dir.write("a.safetensors", testing::safetensors_file({old_tensors.back()})),
       dir.write("b.safetensors", testing::safetensors_file({new_tensors.back()}))});
  EXPECT_EQ(section_of(cast.out),
            "Tensors added: none\nTensors removed: none\nTensors changed: 1\n"
            "  cast\\n: dtype float32 -> float16, shape [2] -> [1, 2]\n");
}

}  // namespace
}  // namespace tarnwick
