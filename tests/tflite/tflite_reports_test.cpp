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

}  // namespace
}  // namespace tarnwick
