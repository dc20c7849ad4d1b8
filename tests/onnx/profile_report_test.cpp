#include <gtest/gtest.h>

#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::external_tensor;
using testing::graph_attribute;
using testing::ints_attribute;
using testing::Message;
using testing::node;
using testing::run_command;
using testing::tensor_type_info;

// A small convolutional model with a symbolic batch, an If, weights in other files (one of them
// pointing outside the model's directory) and a name with a control character.
std::string sample_model() {
  Message then_branch;
  then_branch.add_message(1, node("Relu", "then_relu", {"pooled"}, {"t"})).add_message(12, tensor_type_info("t", 1, {"?"}));
  Message else_branch;
  else_branch.add_message(1, node("Sigmoid", "else_sigmoid", {"pooled"}, {"e"}))
      .add_message(12, tensor_type_info("e", 1, {"?"}));
  Message graph;
  graph.add_bytes(2, "sample")
      .add_message(1, node("Conv", "conv\x01", {"x", "w", "b"}, {"c"})
                          .add_message(5, ints_attribute("pads", {1, 1, 1, 1}))
                          .add_message(5, ints_attribute("strides", {2, 2})))
      .add_message(1, node("Relu", "", {"c"}, {"r"}))
      .add_message(1, node("GlobalAveragePool", "pool", {"r"}, {"pooled"}))
      .add_message(1, node("If", "gate", {"flag"}, {"gated"})
                          .add_message(5, graph_attribute("then_branch", then_branch))
                          .add_message(5, graph_attribute("else_branch", else_branch)))
      .add_message(1, node("Flatten", "flat", {"gated"}, {"f"}))
      .add_message(1, node("MatMul", "head", {"f", "fc"}, {"y"}))
      .add_message(1, node("TopK", "top", {"y", "k"}, {"values", "indices"}))
      .add_message(5, external_tensor("w", {8, 3, 3, 3}, {{"location", "weights.bin"}, {"offset", "0"}, {"length", "864"}}))
      .add_message(5, external_tensor("b", {8}, {{"location", "../outside.bin"}}))
      .add_message(5, external_tensor("fc", {8, 10}, {{"location", "weights.bin"}, {"offset", "864"}}))
      .add_message(5, testing::initializer("k", {1}, 7, std::string("\x03\0\0\0\0\0\0\0", 8)))
      .add_message(11, tensor_type_info("x", 1, {"batch", "3", "32", "32"}))
      .add_message(11, tensor_type_info("flag", 9, {}))
      .add_message(12, tensor_type_info("values", 1, {"batch", "3"}))
      .add_message(12, tensor_type_info("indices", 7, {"batch", "3"}))
      .add_message(13, tensor_type_info("c", 1, {"1", "8", "16", "16"}))
      .add_message(13, tensor_type_info("r", 1, {"1", "8", "16", "15"}));
  return testing::model(graph);
}

TEST(ProfileReport, WholeReports) {
  testing::TempDir dir;
  std::string path = dir.write("sample.onnx", sample_model());
  dir.write("weights.bin", std::string(864 + 100, '\0'));
  struct Case {
    std::vector<std::string> args;
    const char* golden;
  };
  const Case cases[] = {
      {{"profile", "--limit", "3", path}, "onnx/sample.profile.txt"},
      {{"profile", "--dim", "batch=4", path}, "onnx/sample_batch4.profile.txt"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    testing::expect_golden(run.out, c.golden);
  }
  testing::CommandRun json = run_command({"profile", "--json", "--limit", "1", path});
  ASSERT_EQ(json.status, 0) << json.err;
  std::string text = json.out;
  text.replace(text.find(path), path.size(), "sample.onnx");
  testing::expect_golden(text, "onnx/sample.profile.json");
}

// A graph whose costly tail hangs on a data-dependent shape (NonZero) and on an op of another
// domain: the totals are incomplete and the report names the nodes it could not cost.
std::string incomplete_model() {
  Message graph;
  graph.add_bytes(2, "incomplete")
      .add_message(1, node("MatMul", "project", {"x", "w"}, {"h"}))
      .add_message(1, node("NonZero", "where_positive", {"h"}, {"picked"}))
      .add_message(1, node("Shape", "count", {"picked"}, {"picked_shape"}))
      .add_message(1, node("Reshape", "regroup", {"h", "picked_shape"}, {"regrouped"}))
      .add_message(1, node("MatMul", "head", {"regrouped", "w2"}, {"y"}))
      .add_message(1, node("FusedGelu", "vendor_gelu", {"h"}, {"g"}).add_bytes(7, "com.vendor"))
      .add_message(1, node("Relu", "", {"g"}, {"z"}))
      .add_message(5, testing::initializer("w", {4, 4}, 1, std::string(64, '\0')))
      .add_message(5, testing::initializer("w2", {4, 2}, 1, std::string(32, '\0')))
      .add_message(11, tensor_type_info("x", 1, {"2", "4"}))
      .add_message(12, tensor_type_info("y", 1, {"?", "2"}))
      .add_message(12, tensor_type_info("z", 1, {"2", "4"}));
  return testing::model(graph);
}

std::string raw_bytes(std::size_t count, char value) { return std::string(count, value); }

// Static quantization as exporters write it (QuantizeLinear, QLinearConv, DequantizeLinear) and
// dynamic quantization (DynamicQuantizeLinear, MatMulInteger, ConvInteger, QLinearMatMul).
std::string quantized_model() {
  Message graph;
  graph.add_bytes(2, "quantized")
      .add_message(1, node("QuantizeLinear", "quantize", {"x", "x_scale", "x_zero"}, {"xq"}))
      .add_message(1, node("QLinearConv", "qconv", {"xq", "x_scale", "x_zero", "wq", "w_scale", "w_zero", "y_scale", "y_zero", "bias"},
                           {"yq"})
                          .add_message(5, ints_attribute("pads", {1, 1, 1, 1})))
      .add_message(1, node("DequantizeLinear", "dequantize", {"yq", "y_scale", "y_zero"}, {"y"}))
      .add_message(1, node("ConvInteger", "iconv", {"xq", "wq", "x_zero"}, {"yi"}))
      .add_message(1, node("Flatten", "flat", {"y"}, {"f"}))
      .add_message(1, node("DynamicQuantizeLinear", "dyn", {"f"}, {"fq", "f_scale", "f_zero"}))
      .add_message(1, node("MatMulInteger", "imatmul", {"fq", "fcq", "f_zero"}, {"logits_i"}))
      .add_message(1, node("QLinearMatMul", "qmatmul", {"fq", "f_scale", "f_zero", "fcq", "w_scale", "w_zero", "y_scale", "y_zero"},
                           {"logits_q"}))
      .add_message(5, testing::initializer("x_scale", {}, 1, raw_bytes(4, '\0')))
      .add_message(5, testing::initializer("x_zero", {}, 2, raw_bytes(1, '\0')))
      .add_message(5, testing::initializer("wq", {4, 3, 3, 3}, 2, raw_bytes(108, '\1')))
      .add_message(5, testing::initializer("w_scale", {}, 1, raw_bytes(4, '\0')))
      .add_message(5, testing::initializer("w_zero", {}, 2, raw_bytes(1, '\0')))
      .add_message(5, testing::initializer("y_scale", {}, 1, raw_bytes(4, '\0')))
      .add_message(5, testing::initializer("y_zero", {}, 2, raw_bytes(1, '\0')))
      .add_message(5, testing::initializer("bias", {4}, 6, raw_bytes(16, '\0')))
      .add_message(5, testing::initializer("fcq", {256, 10}, 2, raw_bytes(2560, '\2')))
      .add_message(11, tensor_type_info("x", 1, {"1", "3", "8", "8"}))
      .add_message(12, tensor_type_info("logits_i", 6, {"1", "10"}))
      .add_message(12, tensor_type_info("logits_q", 2, {"1", "10"}))
      .add_message(12, tensor_type_info("yi", 6, {"1", "4", "6", "6"}));
  return testing::model(graph);
}

TEST(ProfileReport, IncompleteAndQuantizedGraphs) {
  testing::TempDir dir;
  std::string incomplete = dir.write("incomplete.onnx", incomplete_model());
  std::string quantized = dir.write("quantized.onnx", quantized_model());
  struct Case {
    std::vector<std::string> args;
    std::string path;
    const char* golden;
    int status;
  };
  const Case cases[] = {
      {{"profile", "--limit", "2", incomplete}, incomplete, "onnx/incomplete.profile.txt", 0},
      {{"profile", "--json", "--limit", "2", incomplete}, incomplete, "onnx/incomplete.profile.json", 0},
      {{"profile", quantized}, quantized, "onnx/quantized.profile.txt", 0},
      {{"profile", "--json", quantized}, quantized, "onnx/quantized.profile.json", 0},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    ASSERT_EQ(run.status, c.status) << run.err;
    std::string text = run.out;
    if (std::size_t at = text.find(c.path); at != std::string::npos)
      text.replace(at, c.path.size(), std::filesystem::path(c.path).filename().string());
    testing::expect_golden(text, c.golden);
  }
}

// --strict keeps the report and fails on incomplete totals or a failed external data check.
TEST(ProfileReport, StrictFailsOnIncompleteTotalsAndFailedExternalData) {
  testing::TempDir dir;
  std::string incomplete = dir.write("incomplete.onnx", incomplete_model());
  std::string quantized = dir.write("quantized.onnx", quantized_model());
  std::string sample = dir.write("sample.onnx", sample_model());
  dir.write("weights.bin", std::string(864 + 100, '\0'));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;
  };
  const Case cases[] = {
      {{"profile", "--strict", quantized}, 0, ""},
      {{"profile", "--strict", "--json", quantized}, 0, ""},
      {{"profile", incomplete}, 0, ""},
      {{"profile", "--strict", incomplete}, 1,
       "error: profile --strict: the totals are incomplete (3 nodes with a cost could not be costed)\n"},
      {{"profile", "--json", "--strict", incomplete}, 1,
       "error: profile --strict: the totals are incomplete (3 nodes with a cost could not be costed)\n"},
      {{"profile", "--strict", sample}, 1, "error: profile --strict: 2 external data references failed their checks\n"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[1];
    EXPECT_EQ(run.err, c.error);
    std::vector<std::string> lenient = c.args;
    lenient.erase(std::remove(lenient.begin(), lenient.end(), "--strict"), lenient.end());
    EXPECT_EQ(run.out, run_command(lenient).out) << "the report is printed whole";
  }
}

// Failed external data references are printed even past --limit.
TEST(ProfileReport, FailedExternalDataIsNeverCut) {
  testing::TempDir dir;
  std::string path = dir.write("sample.onnx", sample_model());
  dir.write("weights.bin", std::string(864 + 100, '\0'));
  testing::CommandRun run = run_command({"profile", "--limit", "1", path});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string section = run.out.substr(run.out.find("External Data:"));
  section = section.substr(0, section.find("\n\n"));
  EXPECT_EQ(section,
            "External Data:\n"
            "  w -> weights.bin offset 0 length 864: exists yes, size suffices yes, escapes no\n"
            "  b -> ../outside.bin offset unknown length unknown: exists no, size suffices unknown, escapes yes\n"
            "  fc -> weights.bin offset 864 length unknown: exists yes, size suffices no, escapes no");
  testing::CommandRun two = run_command({"profile", "--limit", "0", path});
  EXPECT_NE(two.out.find("  fc -> weights.bin offset 864 length unknown: exists yes, size suffices no, escapes no\n  ... 1 more\n"),
            std::string::npos)
      << two.out;
}

TEST(ProfileReport, ArgumentErrors) {
  testing::TempDir dir;
  std::string path = dir.write("m.onnx", sample_model());
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"profile"}, "error: usage: tarnwick profile [--json] [--strict] [--limit N] [--dim NAME=VALUE]... <model.onnx>\n"},
      {{"profile", "--dim"}, "error: --dim needs NAME=VALUE\n"},
      {{"profile", "--dim", "batch", path}, "error: --dim needs NAME=VALUE, got `batch`\n"},
      {{"profile", "--dim", "=3", path}, "error: --dim needs NAME=VALUE, got `=3`\n"},
      {{"profile", "--dim", "batch=-1", path}, "error: --dim batch must be at least 1, got -1\n"},
      {{"profile", "--dim", "batch=0", path}, "error: --dim batch must be at least 1, got 0\n"},
      {{"profile", "--dim=batch=+00", path}, "error: --dim batch must be at least 1, got +00\n"},
      {{"profile", "--dim", "batch=1.5", path}, "error: parse --dim batch: invalid digit found in string\n"},
      {{"profile", "--dim", "batch=2", "--dim", "bacth=2", path},
       "error: --dim bacth: the model has no symbolic dim of that name (its symbolic dims: batch)\n"},
      {{"profile", "--dim", "3=2", path},
       "error: --dim 3: the model has no symbolic dim of that name (its symbolic dims: batch)\n"},
      {{"profile", "--dim", "batch=", path}, "error: parse --dim batch: cannot parse integer from empty string\n"},
      {{"profile", "--dim", "batch=9223372036854775808", path},
       "error: parse --dim batch: number too large to fit in target type\n"},
      {{"profile", "--limit", "x", path}, "error: parse --limit: invalid digit found in string\n"},
      {{"profile", path, path}, "error: unexpected argument `" + path + "`\n"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1) << c.error;
    EXPECT_EQ(run.out, "") << c.error;
    EXPECT_EQ(run.err, c.error);
  }
}

TEST(ProfileReport, DimsAreBoundOnlyToNamesTheGraphDeclares) {
  testing::TempDir dir;
  auto relu_model = [](const std::vector<std::string>& input_shape) {
    Message graph;
    graph.add_message(1, node("Relu", "r", {"x"}, {"y"})).add_message(11, tensor_type_info("x", 1, input_shape));
    return testing::model(graph);
  };
  std::string fixed = dir.write("fixed.onnx", relu_model({"2", "3"}));
  std::string partly_unknown = dir.write("unknown.onnx", relu_model({"?", "seq"}));
  testing::CommandRun none = run_command({"profile", "--dim", "batch=2", fixed});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "error: --dim batch: the model has no symbolic dim of that name (it has none)\n");
  // A dim named after an unknown one is still the graph's own.
  testing::CommandRun bound = run_command({"profile", "--dim", "seq=7", partly_unknown});
  EXPECT_EQ(bound.status, 0) << bound.err;
  EXPECT_NE(bound.out.find("Symbolic Dims:\n  seq = 7 (given)\n"), std::string::npos) << bound.out;
}

TEST(ProfileCorpus, WholeReportsOfRealModels) {
  TARNWICK_REQUIRE_CORPUS("onnx");
  std::filesystem::path pytorch = testing::corpus_dir() / "pytorch";
  testing::CommandRun resnet = run_command({"profile", (corpus / "light__light_resnet50.onnx.onnx").string()});
  ASSERT_EQ(resnet.status, 0) << resnet.err;
  testing::expect_golden(resnet.out, "onnx/resnet50.profile.txt");
  std::string mlp_path = (pytorch / "mlp.onnx").string();
  testing::CommandRun mlp = run_command({"profile", "--json", mlp_path});
  ASSERT_EQ(mlp.status, 0) << mlp.err;
  std::string text = mlp.out;
  text.replace(text.find(mlp_path), mlp_path.size(), "mlp.onnx");
  testing::expect_golden(text, "onnx/mlp.profile.json");
}

}  // namespace
}  // namespace tarnwick
