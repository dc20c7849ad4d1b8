// Whole reports of the two real TFLite models of the shared corpus (tests/tflite/tflite_oracle.py
// holds their tables against flatc).
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarnwick {
namespace {

TEST(TfliteReports, WholeReportsOfRealModels) {
  TARNWICK_REQUIRE_CORPUS("realworld/tflite");
  const std::string face = (corpus / "mp_face_detection_short_range.tflite").string();
  const std::string selfie = (corpus / "mp_selfie_segmentation.tflite").string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
      {{"contents", "--limit", "5", face}, "tflite/face_detection.contents.txt"},
      {{"contents", "--json", face}, "tflite/face_detection.contents.json"},
      {{"inspect", selfie}, "tflite/selfie_segmentation.inspect.txt"},
      {{"diff", face, selfie}, "tflite/face_vs_selfie.diff.txt"},
      {{"diff", "--contents", "--limit", "5", face, selfie}, "tflite/face_vs_selfie.diff-contents.txt"},
      {{"explain", face}, "tflite/face_detection.explain.txt"},
      {{"explain-diff", face, selfie}, "tflite/face_vs_selfie.explain-diff.txt"},
      {{"check", "--json", "--fail-on-new-op", face, face}, "tflite/face_vs_face.check.json"},
  };
  for (const auto& [args, golden] : runs) {
    SCOPED_TRACE(golden);
    testing::CommandRun run = testing::run_command(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::string out = run.out;
    for (std::size_t at; (at = out.find(corpus.string())) != std::string::npos;) out.replace(at, corpus.string().size(), "<corpus>");
    testing::expect_golden(out, golden);
  }
}

// A model that runs operators its predecessor did not fails the gate, naming them; the same
// model passes.
TEST(TfliteReports, CheckFailsOnNewOperators) {
  TARNWICK_REQUIRE_CORPUS("realworld/tflite");
  const std::string face = (corpus / "mp_face_detection_short_range.tflite").string();
  const std::string selfie = (corpus / "mp_selfie_segmentation.tflite").string();
  struct Case {
    std::string old_path, new_path;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {face, selfie, 1,
       "  FAIL no new TFLite operators: new operators: AVERAGE_POOL_2D, Convolution2DTransposeBias, HARD_SWISH, "
       "LOGISTIC, MUL, RESIZE_BILINEAR\n"},
      {face, face, 0, "  PASS no new TFLite operators: operator set unchanged\n"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = testing::run_command({"check", "--fail-on-new-op", c.old_path, c.new_path});
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.out.find(c.line), std::string::npos) << run.out;
  }
}

}  // namespace
}  // namespace tarnwick
