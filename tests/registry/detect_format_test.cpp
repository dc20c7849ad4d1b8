#include "registry/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

TEST(DetectFormat, ContentThenExtension) {
  TempDir dir;
  const std::string lightgbm_head = "tree\nversion=v4\nnum_class=1\nmax_feature_idx=3\n";
  std::string late_marker = "tree\n" + std::string(8200, 'x') + "\nmax_feature_idx=3\n";
  struct Case {
    std::string path;
    std::string_view expected;
  };
  const Case cases[] = {
      {(dir.path() / "MODEL.CBM").string(), "CatBoost"},  // missing file, by extension
      {(dir.path() / "model.Onnx").string(), "ONNX"},
      {(dir.path() / "weights.BIN").string(), "PyTorch"},
      {(dir.path() / "a.pth").string(), "PyTorch"},
      {(dir.path() / "a.ckpt").string(), "PyTorch"},
      {(dir.path() / "a.lgb").string(), "LightGBM"},
      {(dir.path() / "plan.json").string(), "tensor plan JSON"},
      {(dir.path() / "model.UBJ").string(), "XGBoost"},
      {dir.write("xgb.json", "{\"learner\":{},\"version\":[1,7,4]}"), "XGBoost"},
      {dir.write("late-learner.json", "{\"version\":[1,7,4],\"learner\":{}}"), "tensor plan JSON"},
      {dir.write("xgb.bin", std::string("{L\0\0\0\0\0\0\0\x07learner{}}", 20)), "XGBoost"},
      {dir.write("model.txt", lightgbm_head), "LightGBM"},
      {dir.write("padded.txt", "  tree \r\nversion=v4\na=1\nb=2\nmax_feature_idx=0\n"), "LightGBM"},
      {dir.write("late.txt", late_marker), "unknown"},
      {dir.write("trees.txt", "trees\nmax_feature_idx=3\n"), "unknown"},
      {dir.write("noext", std::string("CBM1") + '\0'), "CatBoost"},
      {dir.write("cbm.txt", "CBM1"), "CatBoost"},
      {dir.write("pickle", std::string("\x80\x02}q\x00.", 6)), "PyTorch"},
      {dir.write("empty", ""), "unknown"},
      {dir.write(".hidden", "hello"), "unknown"},
      {dir.write("text.cbm1", "CBM"), "unknown"},
      {(dir.path() / "missing").string(), "unknown"},
  };
  for (const Case& c : cases) EXPECT_EQ(kind_name(detect_format(c.path)), c.expected) << c.path;
}

TEST(DetectFormat, TensorCheckpoints) {
  TempDir dir;
  std::string header = "{\"w\":{\"dtype\":\"F32\",\"shape\":[1],\"data_offsets\":[0,4]}}";
  std::string safetensors = std::string(1, static_cast<char>(header.size())) + std::string(7, '\0') + header + "abcd";
  std::string too_long = std::string("\xff\xff", 2) + std::string(6, '\0') + header;
  // A header of 640 bytes: its length starts 80 02, as a pickle of protocol 2 does.
  std::string padded = header + std::string(640 - header.size(), ' ');
  std::string pickle_like = std::string("\x80\x02", 2) + std::string(6, '\0') + padded + "abcd";
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
    std::string_view expected;
  };
  const Case cases[] = {
      {(dir.path() / "w.SafeTensors").string(), "safetensors"},
      {(dir.path() / "model.safetensors.index.json").string(), "safetensors"},  // before the json rule
      {(dir.path() / "index.json").string(), "tensor plan JSON"},
      {(dir.path() / "m.GGUF").string(), "GGUF"},
      {dir.write("gguf-noext", std::string("GGUF\x03\0\0\0", 8)), "GGUF"},
      {dir.write("st-noext", safetensors), "safetensors"},
      {dir.write("st-too-long", too_long), "unknown"},
      {dir.write("st-640.safetensors", pickle_like), "safetensors"},
      {dir.write("st.bin", safetensors), "safetensors"},  // the content decides first
      {(dir.path() / "hf").string(), "safetensors"},
      {(dir.path() / "sharded").string(), "safetensors"},
      {(dir.path() / "two").string(), "unknown"},  // which one is meant is not clear
      {(dir.path() / "plain").string(), "unknown"},
  };
  for (const Case& c : cases) EXPECT_EQ(kind_name(detect_format(c.path)), c.expected) << c.path;
}

// numpy.load decides as torch.load does, by content: an array by its magic, an archive of arrays
// by its first member; a zip that opens with anything else is torch's.
TEST(DetectFormat, NumpyArraysAndArchives) {
  TempDir dir;
  auto zip_starting_with = [](const std::string& member) {
    std::string local("PK\x03\x04", 4);
    local += std::string(22, '\0');
    local += static_cast<char>(member.size());
    local += std::string(3, '\0');
    return local + member;
  };
  struct Case {
    std::string path;
    std::string_view expected;
  };
  const Case cases[] = {
      {dir.write("array-noext", std::string("\x93NUMPY\x01\x00", 8)), "NumPy"},
      {dir.write("arrays.bin", zip_starting_with("w.npy")), "NumPy"},
      {dir.write("weights.npz", zip_starting_with("archive/data.pkl")), "PyTorch"},
      {dir.write("cut.npz", "PK"), "NumPy"},  // too short for any content: the name decides
      {(dir.path() / "missing.NPY").string(), "NumPy"},
      {dir.write("model.bin", std::string("\x10\x00\x00\x00TFL3", 8)), "TFLite"},  // the identifier decides
      {(dir.path() / "missing.tflite").string(), "TFLite"},
      {dir.write("model.zip", zip_starting_with("metadata.json")), "Keras"},  // Keras writes it first
      {(dir.path() / "missing.keras").string(), "Keras"},
  };
  for (const Case& c : cases) EXPECT_EQ(kind_name(detect_format(c.path)), c.expected) << c.path;
}

TEST(DetectFormat, EveryBuiltInFormatHasItsDisplayName) {
  std::vector<std::string_view> names;
  for (const FormatDescriptor* format : registered_formats()) names.push_back(format->name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"CatBoost", "LightGBM", "XGBoost", "GGUF", "safetensors", "NumPy", "TFLite", "Keras", "PyTorch", "ONNX",
                                                  "tensor plan JSON", "pickle"}));
  EXPECT_EQ(kind_name(nullptr), "unknown");
}

}  // namespace
}  // namespace tarnwick
