#include <gtest/gtest.h>

#include "cbm/cbm_summary.h"
#include "cbm/embedded_json.h"
#include "base/format.h"

namespace tarnwick {
namespace {

const std::string kParams =
    R"({"boosting_options":{"iterations":800,"learning_rate":0.2},)"
    R"("flat_params":{"iterations":500,"depth":6,"learning_rate":0.03,"loss_function":"RMSE","l2_leaf_reg":3},)"
    R"("tree_learner_options":{"depth":8,"grow_policy":"SymmetricTree","bootstrap":{"type":"Bayesian"}},)"
    R"("metrics":{"eval_metric":{"type":"RMSE"}},"loss_function":{"type":"Logloss"}})";
const std::string kMetrics = R"({"metrics":{"learn_best_error":{"RMSE":0.25}}})";

std::string model_bytes(const std::string& params = kParams, const std::string& metrics = kMetrics) {
  std::string bytes =
      std::string("CBM1\x01\x00\x00\x00", 8) + params + std::string("\x00\x07", 2) + metrics + std::string("\x00", 1) +
      "2024-01-02T03:04:05Z" + std::string("\x00", 1) + "train_finish_time" + std::string("\x00\x10", 2) + "user_age" +
      std::string("\x01", 1) + "Age_years" + std::string("\x01", 1) + "user_id:int" + std::string("\x01", 1) + "a_b_c" +
      std::string("\x01", 1) + "age" + std::string("\x02", 1) + "user_age" + std::string("\x02", 1) + "zip_code";
  return bytes;
}

CbmSummary summarize(const std::string& bytes) {
  Result<CbmSummary> read = summarize_cbm_bytes("models/m.cbm", bytes);
  EXPECT_TRUE(read.is_ok()) << (read.is_ok() ? "" : read.message());
  return read.is_ok() ? read.take() : CbmSummary{};
}

TEST(CbmReader, TrainingFieldsWithTheirFallbacks) {
  CbmSummary s = summarize(model_bytes());
  EXPECT_EQ(s.name, "m.cbm");
  EXPECT_EQ(s.iterations, 500u);
  EXPECT_EQ(s.depth, 6u);
  EXPECT_EQ(s.learning_rate, 0.03);
  EXPECT_EQ(s.loss_function, "RMSE");
  EXPECT_EQ(s.eval_metric, "RMSE");
  EXPECT_EQ(s.grow_policy, "SymmetricTree");
  EXPECT_EQ(s.l2_leaf_reg, 3.0);
  EXPECT_EQ(s.bootstrap_type, "Bayesian");
  EXPECT_EQ(s.best_learn_rmse, 0.25);
  EXPECT_EQ(s.train_finish_time, "2024-01-02T03:04:05Z");
  EXPECT_EQ(s.feature_names, (std::vector<std::string>{"user_age", "zip_code"}));

  // Second sources: a fractional or negative count, or a missing key, falls through.
  CbmSummary fallback = summarize(model_bytes(
      R"({"boosting_options":{"iterations":800,"learning_rate":0.2},"flat_params":{"iterations":500.0,"depth":-1},)"
      R"("tree_learner_options":{"depth":4,"l2_leaf_reg":1.5},"loss_function":{"type":"Logloss"}})"));
  EXPECT_EQ(fallback.iterations, 800u);
  EXPECT_EQ(fallback.depth, 4u);
  EXPECT_EQ(fallback.learning_rate, 0.2);
  EXPECT_EQ(fallback.loss_function, "Logloss");
  EXPECT_EQ(fallback.l2_leaf_reg, 1.5);
  EXPECT_EQ(fallback.eval_metric, std::nullopt);
  EXPECT_EQ(fallback.grow_policy, std::nullopt);

  // The metrics document is the first whose "metrics" object has "learn_best_error"; an array
  // or a missing key there does not count.
  for (const char* skipped : {R"({"metrics":[{"learn_best_error":1}]})", R"({"metrics":{"learn":1}})"}) {
    EXPECT_EQ(summarize(model_bytes(kParams, std::string(skipped) + kMetrics)).best_learn_rmse, 0.25) << skipped;
  }
  EXPECT_EQ(summarize(model_bytes(kParams, R"({"metrics":{"learn_best_error":null}})" + kMetrics)).best_learn_rmse,
            std::nullopt);
}

TEST(CbmReader, SignatureAndMinimalFiles) {
  EXPECT_EQ(summarize_cbm_bytes("x.cbm", "CBM").message(),
            "x.cbm does not look like a CatBoost CBM file: missing CBM1 signature");
  EXPECT_FALSE(summarize_cbm_bytes("x.cbm", "CBM2{}").is_ok());
  EXPECT_EQ(read_cbm_summary("/nonexistent.cbm").message(), "read /nonexistent.cbm: No such file or directory");

  CbmSummary bare = summarize("CBM1");
  EXPECT_EQ(bare.file_size_bytes, 4u);
  EXPECT_EQ(bare.metadata_fingerprint, std::nullopt);
  EXPECT_EQ(bare.full_artifact_fingerprint, fnv1a64("CBM1"));
  EXPECT_EQ(bare.learned_state_fingerprint, bare.full_artifact_fingerprint);
  EXPECT_FALSE(bare.iterations || bare.depth || bare.learning_rate || bare.train_finish_time);
  EXPECT_TRUE(bare.feature_names.empty());
}

// Feature names are cut out of printable runs, which are found sixteen bytes at a time: every
// byte outside ' '..'~' ends a run wherever it falls in a block, and a run reaching the end counts.
TEST(CbmReader, PrintableRunsEndAtEveryUnprintableByteAtEveryOffset) {
  for (char stop : {'\x00', '\x1f', '\x7f', '\x80', '\xff'}) {
    for (std::size_t offset = 0; offset < 40; ++offset) {
      std::string bytes = "CBM1" + std::string(1 + offset, stop) + "first_name" + stop + "a b" + stop + "~ x_y_zz " +
                          std::string(1 + offset % 3, stop) + "last_one";
      EXPECT_EQ(summarize(bytes).feature_names, (std::vector<std::string>{"first_name", "last_one"}))
          << "stop " << int(static_cast<unsigned char>(stop)) << " offset " << offset;
    }
  }
}

TEST(CbmReader, BraceMatchingRespectsStringsAndSkipsWhatDoesNotParse) {
  struct Case {
    std::string bytes;
    std::vector<std::pair<std::size_t, std::size_t>> spans;
  };
  const Case cases[] = {
      {R"(xx{"a":"{ not a brace"}yy)", {{2, 23}}},
      {R"({"a":"say \"}\" now"})", {{0, 21}}},
      {R"({"a":{"b":1}} {"c":2})", {{0, 13}, {14, 21}}},
      {R"({not json} {"ok":1})", {{11, 19}}},
      {R"({"open": {"x":1})", {{9, 16}}},  // the outer brace never closes; the inner object still counts
      {std::string("{\"a\":\"\xFF\"}", 9), {}},
      {"{}", {{0, 2}}},
  };
  for (const Case& c : cases) {
    std::vector<EmbeddedJsonObject> objects = find_embedded_json_objects(c.bytes);
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (const EmbeddedJsonObject& object : objects) spans.emplace_back(object.start, object.end);
    EXPECT_EQ(spans, c.spans) << c.bytes;
  }
}

TEST(CbmReader, FingerprintsSeparateMetadataFromLearnedState) {
  const std::string a = R"({"k":1,"j":[1,2]})", a_relaid = R"({ "j" : [1, 2], "k" : 1 })";
  const std::string b = R"({"boosting_options":{}})";
  auto file = [](const std::string& first, const std::string& second, char body) {
    return std::string("CBM1") + body + first + "\x01" + second + "\x02";
  };
  CbmSummary base = summarize(file(a, b, 'x'));
  CbmSummary relaid = summarize(file(a_relaid, b, 'x'));
  CbmSummary swapped = summarize(file(b, a, 'x'));
  CbmSummary body_changed = summarize(file(a, b, 'y'));
  CbmSummary json_changed = summarize(file(R"({"k":2,"j":[1,2]})", b, 'x'));

  EXPECT_EQ(relaid.metadata_fingerprint, base.metadata_fingerprint);
  EXPECT_EQ(swapped.metadata_fingerprint, base.metadata_fingerprint);
  // The bytes between the objects stay as they were, so the learned state does too.
  EXPECT_EQ(swapped.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_NE(swapped.full_artifact_fingerprint, base.full_artifact_fingerprint);
  EXPECT_NE(body_changed.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_EQ(body_changed.metadata_fingerprint, base.metadata_fingerprint);
  EXPECT_EQ(json_changed.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_NE(json_changed.metadata_fingerprint, base.metadata_fingerprint);
  EXPECT_NE(json_changed.full_artifact_fingerprint, base.full_artifact_fingerprint);

  // The metadata fingerprint hashes the sorted compact texts joined by line feeds.
  std::string sorted_texts = std::string(R"({"boosting_options":{}})") + "\n" + R"({"j":[1,2],"k":1})";
  EXPECT_EQ(base.metadata_fingerprint, fnv1a64(sorted_texts));
  EXPECT_EQ(base.learned_state_fingerprint, fnv1a64("CBM1x\x01\x02"));
}

TEST(CbmReader, PrintableRunsGiveFinishTimeOnlyAfterAnotherRun) {
  // The signature is itself the first run, so a marker right after it takes "CBM1" as the time.
  EXPECT_EQ(summarize(std::string("CBM1\x01train_finish_time", 22)).train_finish_time, "CBM1");
  // Joined to the signature the marker is not a run of its own.
  EXPECT_EQ(summarize("CBM1train_finish_time").train_finish_time, std::nullopt);
  EXPECT_EQ(summarize(std::string("CBM1\x01noon\x01train_finish_time", 27)).train_finish_time, "noon");
}

TEST(CbmReader, HostileNestingIsSkippedWithoutCrashing) {
  std::string deep = "CBM1" + std::string(200000, '{') + std::string(200000, '}');
  CbmSummary s = summarize(deep);
  EXPECT_EQ(s.metadata_fingerprint, std::nullopt);
  EXPECT_EQ(s.learned_state_fingerprint, s.full_artifact_fingerprint);

  std::string nested_arrays = "CBM1{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_EQ(summarize(nested_arrays).metadata_fingerprint, std::nullopt);

  std::string shallow = "CBM1" + std::string(kMaxEmbeddedJsonNesting, '{') + std::string(kMaxEmbeddedJsonNesting, '}');
  EXPECT_EQ(summarize(shallow).metadata_fingerprint, std::nullopt);  // {{}} is not valid JSON either
}

}  // namespace
}  // namespace tarnwick
