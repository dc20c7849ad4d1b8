#include "main/artifact_kind.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

TEST(DetectArtifactKind, ExtensionThenContent) {
  TempDir dir;
  const std::string lightgbm_head = "tree\nversion=v4\nnum_class=1\nmax_feature_idx=3\n";
  std::string late_marker = "tree\n" + std::string(8200, 'x') + "\nmax_feature_idx=3\n";
  struct Case {
    std::string path;
    ArtifactKind expected;
  };
  const Case cases[] = {
      {(dir.path() / "MODEL.CBM").string(), ArtifactKind::CatBoost},  // missing file, by extension
      {(dir.path() / "model.Onnx").string(), ArtifactKind::ONNX},
      {(dir.path() / "weights.BIN").string(), ArtifactKind::PyTorch},
      {(dir.path() / "a.pth").string(), ArtifactKind::PyTorch},
      {(dir.path() / "a.ckpt").string(), ArtifactKind::PyTorch},
      {(dir.path() / "a.lgb").string(), ArtifactKind::LightGBM},
      {(dir.path() / "plan.json").string(), ArtifactKind::TensorPlanJson},
      {dir.write("model.txt", lightgbm_head), ArtifactKind::LightGBM},
      {dir.write("padded.txt", "  tree \r\nversion=v4\na=1\nb=2\nmax_feature_idx=0\n"), ArtifactKind::LightGBM},
      {dir.write("late.txt", late_marker), ArtifactKind::Unknown},
      {dir.write("trees.txt", "trees\nmax_feature_idx=3\n"), ArtifactKind::Unknown},
      {dir.write("noext", std::string("CBM1") + '\0'), ArtifactKind::CatBoost},
      {dir.write("cbm.txt", "CBM1"), ArtifactKind::CatBoost},
      {dir.write("pickle", std::string("\x80\x02}q\x00.", 6)), ArtifactKind::PyTorch},
      {dir.write("empty", ""), ArtifactKind::Unknown},
      {dir.write(".hidden", "hello"), ArtifactKind::Unknown},
      {dir.write("text.cbm1", "CBM"), ArtifactKind::Unknown},
      {(dir.path() / "missing").string(), ArtifactKind::Unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(detect_artifact_kind(c.path), c.expected) << c.path;
}

TEST(DetectArtifactKind, DisplayNames) {
  EXPECT_EQ(display_name(ArtifactKind::TensorPlanJson), "tensor plan JSON");
  EXPECT_EQ(display_name(ArtifactKind::Unknown), "unknown");
  EXPECT_EQ(display_name(ArtifactKind::ONNX), "ONNX");
}

}  // namespace
}  // namespace tarnwick
