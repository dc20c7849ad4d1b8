#include <gtest/gtest.h>

#include <regex>

#include "lightgbm/lightgbm_summary.h"
#include "base/format.h"
#include "test_support.h"

namespace tarnwick {
namespace {

// A small model in LightGBM's text layout; `parameters` and `leaves` vary per test.
std::string model_text(const std::string& parameters =
                           "[boosting: gbdt]\n[objective: regression]\n"
                           "[metric: auc]\n[num_leaves: 31]\n"
                           "[learning_rate: 0.05]\n[max_depth: -1]\n"
                           "[num_iterations: 100]\n",
                       const std::string& leaves = "leaf_value=0.5 -0.25\n") {
  return "tree\nversion=v3\nnum_class=1\nnum_tree_per_iteration=1\nlabel_index=0\nmax_feature_idx=2\n"
         "objective=regression\nfeature_names=age income  city\nfeature_infos=none none none\n"
         "tree_sizes=100\n\nTree=0\nnum_leaves=2\nsplit_feature=0\n" +
         leaves + "shrinkage=1\n\n\nend of trees\n\nparameters:\n" + parameters + "end of parameters\n";
}

Result<LightgbmSummary> summarize_model_text(const std::string& text) {
  return summarize_lightgbm_text("dir/m.txt", text);
}

std::string with_crlf(const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

TEST(LightgbmReader, ReadsHeaderParametersAndFingerprints) {
  Result<LightgbmSummary> read = summarize_model_text(model_text());
  ASSERT_TRUE(read.is_ok()) << read.message();
  const LightgbmSummary& s = read.value();
  EXPECT_EQ(s.path, "m.txt");
  EXPECT_EQ(s.version, "v3");
  EXPECT_EQ(s.num_class, 1u);
  EXPECT_EQ(s.num_trees, 1u);
  EXPECT_EQ(s.num_features, 3u);
  EXPECT_EQ(s.feature_names.strings(), (std::vector<std::string>{"age", "income", "city"}));
  EXPECT_EQ(s.objective, "regression");
  EXPECT_EQ(s.boosting, "gbdt");
  EXPECT_EQ(s.metric, "auc");
  EXPECT_EQ(s.num_leaves, 31u);
  EXPECT_EQ(s.learning_rate, 0.05);
  EXPECT_EQ(s.max_depth, -1);
  EXPECT_EQ(s.num_iterations, 100u);
  EXPECT_EQ(s.learned_state_fingerprint, fnv1a64("leaf_value=0.5 -0.25"));
  EXPECT_EQ(s.metadata_fingerprint,
            fnv1a64("[boosting: gbdt]\n[objective: regression]\n[metric: auc]\n[num_leaves: 31]\n"
                    "[learning_rate: 0.05]\n[max_depth: -1]\n[num_iterations: 100]\n"));
  EXPECT_EQ(s.file_fingerprint, fnv1a64(model_text()));
}

TEST(LightgbmReader, CrlfGivesTheSameSummaryExceptTheFileFingerprint) {
  LightgbmSummary unix_summary = summarize_model_text(model_text()).take();
  LightgbmSummary windows_summary = summarize_model_text(with_crlf(model_text())).take();
  EXPECT_EQ(windows_summary.learned_state_fingerprint, unix_summary.learned_state_fingerprint);
  EXPECT_EQ(windows_summary.metadata_fingerprint, unix_summary.metadata_fingerprint);
  EXPECT_NE(windows_summary.file_fingerprint, unix_summary.file_fingerprint);
  windows_summary.file_fingerprint = unix_summary.file_fingerprint;
  windows_summary.bytes = unix_summary.bytes;
  EXPECT_EQ(lightgbm_summary_json(windows_summary), lightgbm_summary_json(unix_summary));
}

TEST(LightgbmReader, FingerprintsSeparateConfigurationFromLearnedState) {
  LightgbmSummary base = summarize_model_text(model_text()).take();
  LightgbmSummary retrained =
      summarize_model_text(model_text("[boosting: gbdt]\n[objective: regression]\n[metric: auc]\n[num_leaves: 31]\n"
                           "[learning_rate: 0.05]\n[max_depth: -1]\n[num_iterations: 100]\n",
                           "leaf_value=0.5 -0.26\n"))
          .take();
  LightgbmSummary reconfigured =
      summarize_model_text(model_text("[boosting: gbdt]\n[objective: regression]\n[metric: auc]\n[num_leaves: 31]\n"
                           "[learning_rate: 0.1]\n[max_depth: -1]\n[num_iterations: 100]\n"))
          .take();
  LightgbmSummary reordered =
      summarize_model_text(model_text("[objective: regression]\n[boosting: gbdt]\n[metric: auc]\n[num_leaves: 31]\n"
                           "[learning_rate: 0.05]\n[max_depth: -1]\n[num_iterations: 100]\n"))
          .take();
  EXPECT_NE(retrained.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_EQ(retrained.metadata_fingerprint, base.metadata_fingerprint);
  EXPECT_EQ(reconfigured.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_NE(reconfigured.metadata_fingerprint, base.metadata_fingerprint);
  EXPECT_NE(reordered.metadata_fingerprint, base.metadata_fingerprint);
}

TEST(LightgbmReader, FieldRules) {
  struct Case {
    std::string text;
    void (*check)(const LightgbmSummary&);
  };
  const Case cases[] = {
      {model_text("[num_leaves: -1]\n[max_depth: +7]\n[learning_rate: fast]\n"),
       [](const LightgbmSummary& s) {
         EXPECT_EQ(s.num_leaves, std::nullopt);
         EXPECT_EQ(s.max_depth, 7);
         EXPECT_EQ(s.learning_rate, std::nullopt);
       }},
      {"tree\nmax_feature_idx=27\nfeature_names=a b\n",
       [](const LightgbmSummary& s) { EXPECT_EQ(s.num_features, 28u); }},
      // Found by fuzzing: the largest index plus one must not overflow a signed count.
      {"tree\nmax_feature_idx=9223372036854775807\n",
       [](const LightgbmSummary& s) { EXPECT_EQ(s.num_features, 9223372036854775808ULL); }},
      {"tree\nmax_feature_idx=-1\n", [](const LightgbmSummary& s) { EXPECT_EQ(s.num_features, 0u); }},
      {"tree\nmax_feature_idx=-2\nfeature_names=a\n", [](const LightgbmSummary& s) { EXPECT_EQ(s.num_features, 1u); }},
      {"tree\nmax_feature_idx=x\nfeature_names=a b c d e f g h i j\n",
       [](const LightgbmSummary& s) { EXPECT_EQ(s.num_features, 10u); }},
      {"tree\nmax_feature_idx=x\n",
       [](const LightgbmSummary& s) {
         EXPECT_EQ(s.num_features, std::nullopt);
         EXPECT_TRUE(s.feature_names.empty());
         EXPECT_EQ(s.metadata_fingerprint, std::nullopt);
         EXPECT_EQ(s.learned_state_fingerprint, kFnvOffsetBasis);
         EXPECT_EQ(s.objective, std::nullopt);
       }},
      {"tree\nmax_feature_idx=1\nobjective=   \nparameters:\n[objective: binary]\nend of parameters\n",
       [](const LightgbmSummary& s) { EXPECT_EQ(s.objective, ""); }},
      {"tree\nmax_feature_idx=1\nobjective=multiclass num_class:3\n",
       [](const LightgbmSummary& s) { EXPECT_EQ(s.objective, "multiclass"); }},
      {"tree\nmax_feature_idx=1\nparameters:\n[objective: binary]\n[no colon here]\nend of parameters\n",
       [](const LightgbmSummary& s) {
         EXPECT_EQ(s.objective, "binary");
         EXPECT_EQ(s.metadata_fingerprint, fnv1a64("[objective: binary]\n[no colon here]\n"));
       }},
      {"tree\nmax_feature_idx=1\nversion=v2\nversion=v4\nTree=0\nversion=v9\nTree=\nTree=1\n",
       [](const LightgbmSummary& s) {
         EXPECT_EQ(s.version, "v4");  // header ends at the first tree; later keys replace earlier
         EXPECT_EQ(s.num_trees, 3u);  // "Tree=" alone has five bytes and counts
       }},
  };
  for (const Case& c : cases) {
    Result<LightgbmSummary> read = summarize_model_text(c.text);
    ASSERT_TRUE(read.is_ok()) << c.text;
    c.check(read.value());
  }
}

TEST(LightgbmReader, HugeNameListsAreHeldInOneText) {
  // The hostile shape of a header naming a feature every two bytes, and an objective line of
  // as many words; a string per name would cost dozens of bytes each.
  constexpr std::size_t kNames = 300000;
  std::string names, words;
  for (std::size_t i = 0; i < kNames; ++i) names += "f ";
  for (std::size_t i = 0; i < kNames; ++i) words += "w ";
  std::string text = "tree\nversion=v4\nmax_feature_idx=1\nobjective=" + words + "\nfeature_names=" + names +
                     "\n\nTree=0\nleaf_value=1\n";
  Result<LightgbmSummary> read = summarize_model_text(text);
  ASSERT_TRUE(read.is_ok()) << read.message();
  const LightgbmSummary& s = read.value();
  EXPECT_EQ(s.feature_names.size(), kNames);
  EXPECT_EQ(s.objective, "w");
  EXPECT_LE(s.feature_names.joined().capacity(), names.size()) << "one text no longer than the header's";
  std::size_t visited = 0;
  for (std::string_view name : s.feature_names) visited += name == "f";
  EXPECT_EQ(visited, kNames);
}

TEST(LightgbmReader, RefusesOtherText) {
  EXPECT_EQ(summarize_model_text("").message(),
            "dir/m.txt does not look like a LightGBM text model: missing `tree` / `max_feature_idx=` header");
  EXPECT_FALSE(summarize_model_text("tree\n" + std::string(8192, ' ') + "max_feature_idx=1\n").is_ok());
  EXPECT_TRUE(summarize_model_text("  tree  \nversion=v3\na=1\nb=2\nmax_feature_idx=1\n").is_ok());
  EXPECT_EQ(read_lightgbm_summary("/nonexistent/m.txt").message(),
            "read /nonexistent/m.txt: No such file or directory");
}

}  // namespace
}  // namespace tarnwick
