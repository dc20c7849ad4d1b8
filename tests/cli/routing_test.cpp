#include <gtest/gtest.h>

#include "../onnx/proto_builder.h"
#include "../safetensors/safetensors_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

TEST(Routing, RefusalsOfInspectDiffAndExplain) {
  TempDir dir;
  std::string unknown_a = dir.write("a.dat", "hello");
  std::string unknown_b = dir.write("b.dat", "world");
  const std::string inspect_usage =
      "usage: tarnwick inspect [--deep] [--json] [--limit 20] <model.cbm|model.onnx|model.json>";
  const std::string diff_usage = "usage: tarnwick diff [--deep] [--json] <old-model> <new-model>";
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"inspect"}, inspect_usage},
      {{"inspect", "--json"}, inspect_usage},
      {{"inspect", "--limit"}, "--limit needs a number"},
      {{"inspect", "--json", "plan.json"},
       "--json inspection is only supported for CatBoost, LightGBM, and ONNX artifacts."},
      {{"inspect", "--limit", "5", "plan.json"},
       "--limit inspection is only supported for CatBoost, LightGBM, and ONNX artifacts."},
      {{"inspect", "--deep", "--limit", "5", "--json", "plan.json"},
       "--deep inspection is currently only supported for CatBoost artifacts."},
      {{"inspect", "--deep", "m.pt"}, "--deep inspection is currently only supported for CatBoost artifacts."},
      {{"inspect", unknown_a},
       "unsupported artifact type for `" + unknown_a + "`. Try .cbm, .lgb, .onnx, .pt/.pth, or .json."},
      {{"inspect", "--deep", unknown_a},
       "unsupported artifact type for `" + unknown_a + "`. Try .cbm, .lgb, .onnx, .pt/.pth, or .json."},
      {{"inspect", "/nonexistent/model.cbm"}, "read /nonexistent/model.cbm: No such file or directory"},
      {{"diff"}, diff_usage},
      {{"diff", "a.cbm"}, diff_usage},
      {{"diff", "a.cbm", "b.cbm", "c.cbm"}, diff_usage},
      {{"diff", "--deep", "--json", "a.cbm", "b.cbm"}, "--deep cannot be combined with --json yet."},
      {{"diff", "a.cbm", "b.onnx"}, "cannot diff different or unsupported artifact types: CatBoost vs ONNX"},
      {{"diff", unknown_a, unknown_b}, "cannot diff different or unsupported artifact types: unknown vs unknown"},
      {{"diff", "a.json", "b.json"},
       "tensor plan diff is not supported yet. Use trace, compare, why, or validate instead."},
      {{"explain", "a.onnx", "b.onnx"}, "unexpected argument `b.onnx`"},
      {{"catboost", "--limit", "3x", "a.cbm"}, "parse --limit: invalid digit found in string"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1) << c.error;
    EXPECT_EQ(run.out, "") << c.error;
    EXPECT_EQ(run.err, "error: " + c.error + "\n");
  }
}

// Kinds that `diff --contents` compares point there when plain `diff` refuses them; the other
// mismatches keep their message as it is.
TEST(Routing, DiffOfTwoTensorKindsPointsToTheContentsDiff) {
  TempDir dir;
  const std::string mismatch = "error: cannot diff different or unsupported artifact types: ";
  const std::string pointer = ". Try `tarnwick diff --contents` to compare their tensors by name.\n";
  std::string unknown = dir.write("a.dat", "hello");
  struct Case {
    std::string old_path, new_path, err;
  };
  const Case cases[] = {
      {"a.safetensors", "b.pt", mismatch + "safetensors vs PyTorch" + pointer},
      {"a.gguf", "b.safetensors", mismatch + "GGUF vs safetensors" + pointer},
      {"a.onnx", "b.gguf", mismatch + "ONNX vs GGUF" + pointer},
      {"a.safetensors", "b.cbm", mismatch + "safetensors vs CatBoost\n"},
      {"a.gguf", unknown, mismatch + "GGUF vs unknown\n"},
      {"a.pt", "b.onnx", mismatch + "PyTorch vs ONNX\n"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command({"diff", c.old_path, c.new_path});
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
  // The pointer leads somewhere: the contents diff compares the pair.
  std::string weights = dir.write("w.safetensors", testing::safetensors_file({{"w", "F32", {2}, std::string(8, '\0')}}));
  testing::Message graph;
  graph.add_message(5, testing::initializer("w", {2}, 1, std::string(8, '\0')));
  std::string onnx = dir.write("w.onnx", testing::model(graph));
  EXPECT_EQ(run_command({"diff", weights, onnx}).err, mismatch + "safetensors vs ONNX" + pointer);
  testing::CommandRun contents = run_command({"diff", "--contents", weights, onnx});
  EXPECT_EQ(contents.status, 0) << contents.err;
  EXPECT_NE(contents.out.find("  Unchanged: 1\n"), std::string::npos) << contents.out;
}

TEST(Routing, InspectHandsTheWholeArgumentListToTheKindHandler) {
  TempDir dir;
  std::string model = dir.write("model.txt", "tree\nversion=v3\nmax_feature_idx=0\nfeature_names=a\n");
  std::string no_extension = dir.write("noext", "tree\nmax_feature_idx=0\n");
  EXPECT_EQ(run_command({"inspect", "--limit", "+7", model}).out, run_command({"lightgbm", model}).out);
  EXPECT_EQ(run_command({"inspect", model, "--json"}).out, run_command({"lgbm", "--json", model}).out);
  EXPECT_EQ(run_command({"explain", model}).out, run_command({"lightgbm", model}).out);
  EXPECT_EQ(run_command({"inspect", no_extension}).status, 0);
  // The kind comes from the first path; a later path is read with that kind's reader.
  testing::CommandRun mixed = run_command({"inspect", model, dir.write("x.cbm", "CBM1")});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_NE(mixed.err.find("does not look like a LightGBM text model"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
