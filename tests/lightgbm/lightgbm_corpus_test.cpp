// Real LightGBM models from ../shared/corpus/lightgbm, read back against what their text states.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "lightgbm/lightgbm_summary.h"
#include "registry/registry.h"
#include "test_support.h"

namespace tarnwick {
namespace {

struct StatedHeader {
  std::map<std::string, std::string> keys;
  std::uint64_t tree_lines = 0;
};

// An independent, plain reading: key=value lines up to the first tree, and every "Tree=" line.
StatedHeader read_stated_header(const std::string& path) {
  StatedHeader header;
  std::ifstream file(path);
  std::string line;
  bool before_trees = true;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Tree=", 0) == 0) {
      ++header.tree_lines;
      before_trees = false;
    } else if (before_trees && line.find('=') != std::string::npos) {
      header.keys.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
  }
  return header;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> result;
  for (std::string word; stream >> word;) result.push_back(word);
  return result;
}

TEST(LightgbmCorpus, SummariesAgreeWithTheStatedHeader) {
  TARNWICK_REQUIRE_CORPUS("lightgbm");
  int models = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".txt") continue;
    ++models;
    std::string path = entry.path().string();
    SCOPED_TRACE(path);
    EXPECT_EQ(kind_name(detect_format(path)), "LightGBM");
    Result<LightgbmSummary> read = read_lightgbm_summary(path);
    ASSERT_TRUE(read.is_ok()) << read.message();
    const LightgbmSummary& summary = read.value();
    StatedHeader stated = read_stated_header(path);

    EXPECT_EQ(summary.num_trees, stated.tree_lines);
    EXPECT_GT(summary.num_trees, 0u);
    EXPECT_EQ(summary.num_features, std::stoull(stated.keys.at("max_feature_idx")) + 1);
    EXPECT_EQ(summary.feature_names.strings(), words(stated.keys.at("feature_names")));
    EXPECT_EQ(summary.objective, words(stated.keys.at("objective")).front());
    EXPECT_EQ(summary.num_class, std::stoull(stated.keys.at("num_class")));
    EXPECT_EQ(summary.version, stated.keys.at("version"));
    EXPECT_EQ(summary.bytes, std::filesystem::file_size(entry.path()));
  }
  EXPECT_EQ(models, 11);
}

TEST(LightgbmCorpus, DiffsOfRelatedModelsAndOfAModelWithItself) {
  TARNWICK_REQUIRE_CORPUS("lightgbm");
  std::string mtpl2 = (corpus / "mtpl2.txt").string();
  std::string small = (corpus / "mtpl2_small.txt").string();
  testing::CommandRun related = testing::run_command({"diff", mtpl2, small});
  ASSERT_EQ(related.status, 0) << related.err;
  testing::expect_golden(related.out, "lightgbm/mtpl2_vs_mtpl2_small.diff.txt");

  testing::CommandRun same = testing::run_command({"diff", small, small});
  ASSERT_EQ(same.status, 0) << same.err;
  testing::expect_golden(same.out, "lightgbm/mtpl2_small_vs_itself.diff.txt");
  EXPECT_NE(same.out.find("Interpretation:\n"
                          "  Structure is unchanged: same tree count and configured leaves.\n"
                          "  Training config looks unchanged (objective, boosting, learning rate, leaves, depth, "
                          "metric).\n"
                          "  Feature names are unchanged.\n"
                          "  Learned-state fingerprint is identical, so the trees' leaf values are unchanged.\n"),
            std::string::npos);

  testing::CommandRun summary = testing::run_command({"inspect", (corpus / "multiclass.txt").string()});
  ASSERT_EQ(summary.status, 0) << summary.err;
  testing::expect_golden(summary.out, "lightgbm/multiclass.inspect.txt");
}

}  // namespace
}  // namespace tarnwick
