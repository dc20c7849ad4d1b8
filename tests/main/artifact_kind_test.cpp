#include "main/artifact_kind.h"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(DetectArtifactKind, TensorCheckpoints) {
  TempDir dir;
  std::string header = "{\"w\":{\"dtype\":\"F32\",\"shape\":[1],\"data_offsets\":[0,4]}}";
  std::string safetensors = std::string(1, static_cast<char>(header.size())) + std::string(7, '\0') + header + "abcd";
  std::string too_long = std::string("\xff\xff", 2) + std::string(6, '\0') + header;
  std::filesystem::create_directories(dir.path() / "hf");
  dir.write("hf/model.safetensors", safetensors);
  dir.write("hf/config.json", "{}");
  std::filesystem::create_directories(dir.path() / "sharded");
  dir.write("sharded/model.safetensors.index.json", "{}");
  std::filesystem::create_directories(dir.path() / "two");
  dir.write("two/a.safetensors", safetensors);
  dir.write("two/b.safetensors", safetensors);
  std::filesystem::create_directories(dir.path() / "plain");
  dir.write("plain/notes.txt", "hello");
  struct Case {
    std::string path;
    ArtifactKind expected;
  };
  const Case cases[] = {
      {(dir.path() / "w.SafeTensors").string(), ArtifactKind::Safetensors},
      {(dir.path() / "model.safetensors.index.json").string(), ArtifactKind::Safetensors},  // before the json rule
      {(dir.path() / "index.json").string(), ArtifactKind::TensorPlanJson},
      {(dir.path() / "m.GGUF").string(), ArtifactKind::GGUF},
      {dir.write("gguf-noext", std::string("GGUF\x03\0\0\0", 8)), ArtifactKind::GGUF},
      {dir.write("st-noext", safetensors), ArtifactKind::Safetensors},
      {dir.write("st-too-long", too_long), ArtifactKind::Unknown},
      {dir.write("st.bin", safetensors), ArtifactKind::PyTorch},  // the extension decides first
      {(dir.path() / "hf").string(), ArtifactKind::Safetensors},
      {(dir.path() / "sharded").string(), ArtifactKind::Safetensors},
      {(dir.path() / "two").string(), ArtifactKind::Unknown},  // which one is meant is not clear
      {(dir.path() / "plain").string(), ArtifactKind::Unknown},
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
