#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::initializer;
using testing::int_attribute;
using testing::Message;
using testing::node;
using testing::run_command;
using testing::TempDir;
using testing::tensor_type_info;

// A small classifier: Gemm (transB) then Relu then Softmax, with a weight given as a graph input too.
Message classifier_graph(const std::string& weight_bytes = std::string(16, '\x01')) {
  Message gemm = node("Gemm", "fc", {"x", "W", "b"}, {"h"});
  gemm.add_message(5, int_attribute("transB", 1));
  Message graph;
  graph.add_bytes(2, "classifier")
      .add_message(1, gemm)
      .add_message(1, node("Relu", "", {"h"}, {"r"}))
      .add_message(1, node("Softmax", "probs", {"r"}, {"y"}))
      .add_message(5, initializer("W", {4, 10}, 1, weight_bytes))
      .add_message(5, initializer("b", {4}, 1, ""))
      .add_message(11, tensor_type_info("x", 1, {"batch", "10"}))
      .add_message(11, tensor_type_info("W", 1, {"4", "10"}))
      .add_message(12, tensor_type_info("y", 1, {"2", "4"}))
      .add_message(13, tensor_type_info("h", 1, {"2", "4"}));
  return graph;
}

TEST(OnnxReport, TextReport) {
  TempDir dir;
  std::string path = dir.write("clf.onnx", testing::model(classifier_graph()));
  testing::CommandRun run = run_command({"inspect", path});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "ONNX Model Summary\n"
            "------------------\n"
            "Model: clf.onnx\n"
            "Format: ONNX ModelProto\n"
            "File size: 233 B\n"
            "  IR version: 8\n"
            "  Producer: unit\n"
            "  Graph: classifier\n"
            "  Opsets: ai.onnx=17\n"
            "\n"
            "Graph:\n"
            "  Nodes: 3\n"
            "  Initializers: 2\n"
            "  Value info entries: 1\n"
            "  Parameters: 44 values / 176 B\n"
            "\n"
            "Inputs:\n"
            "  x [batch, 10] float32\n"
            "\n"
            "Outputs:\n"
            "  y [2, 4] float32\n"
            "\n"
            "Operator Mix:\n"
            "  Gemm                     1\n"
            "  Relu                     1\n"
            "  Softmax                  1\n"
            "\n"
            // x's batch is symbolic: Gemm and Relu are costed over the shapes propagated with it as 1.
            "Estimated Cost:\n"
            "  Estimated ops: 92\n"
            "  Most expensive:\n"
            "    fc                       Gemm         80 ops\n"
            "    probs                    Softmax      8 ops\n"
            "    node_2                   Relu         4 ops\n"
            "\n"
            "Initializers:\n"
            "  W [4, 10] 40 values / 160 B, raw 16 B\n"
            "  b [4] 4 values / 16 B\n"
            "\n"
            "Note:\n"
            "  This is static ONNX graph inspection, not model execution.\n"
            "  Op estimates are best-effort and depend on static shapes in the file.\n"
            "  Run ONNX shape inference before inspection for better cost estimates.\n"
            "  Estimated ops take the symbolic dimensions batch as 1.\n");

  testing::CommandRun limited = run_command({"onnx", "--limit", "0", path});
  EXPECT_NE(limited.out.find("Operator Mix:\n  ... 3 more\n"), std::string::npos);
  EXPECT_NE(limited.out.find("Initializers:\n  ... 2 more\n"), std::string::npos);
  EXPECT_NE(limited.out.find("Inputs:\n  ... 1 more\n"), std::string::npos);
}

TEST(OnnxReport, JsonDocument) {
  TempDir dir;
  std::string path = dir.write("clf.onnx", testing::model(classifier_graph()));
  testing::CommandRun run = run_command({"onnx", path, "--json", "--limit", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  testing::expect_golden(run.out, "onnx/classifier.inspect.json");
  nlohmann::json document = nlohmann::json::parse(run.out);
  EXPECT_EQ(document["summary"]["inputs"].size(), 2u) << "JSON lists inputs that are initializers too";
  EXPECT_EQ(document["initializers"].size(), 2u) << "--limit does not apply";
}

// No byte below 0x20 but the line feeds that end the report's own lines, and no DEL.
bool only_printable_lines(const std::string& report) {
  for (char c : report) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == '\x7f') return false;
  }
  return true;
}

TEST(OnnxReport, NamesFromTheFileCannotForgeLinesOrTerminalSequences) {
  TempDir dir;
  Message graph;
  graph.add_bytes(2, "g\nStatus: PASS")
      .add_message(1, node("Softmax", "probs\x1b[2J\x1b[31m", {"x\r"}, {"y"}))
      .add_message(1, node("Evil\tOp", "n2", {"y"}, {"z"}))
      .add_message(5, initializer("W\x7f", {2, 2}, 1, std::string(16, '\x01')))
      .add_message(11, tensor_type_info("x\r", 1, {"batch\x1b", "4"}))
      .add_message(12, tensor_type_info("z", 1, {"2", "4"}))
      .add_message(13, tensor_type_info("y", 1, {"2", "4"}));
  std::string path = dir.write("m\xFF.onnx", testing::model(graph, 8,
                                                            "pro\x1b]0;title\x07"
                                                            "ducer"));
  struct Case {
    std::vector<std::string> command;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{"inspect"},
       {"Model: m\\xff.onnx\n", "  Producer: pro\\u{1b}]0;title\\u{07}ducer\n", "  Graph: g\\nStatus: PASS\n",
        "  x\\r [batch\\u{1b}, 4] float32\n", "  Evil\\tOp                 1\n",
        "  W\\u{7f} [2, 2] 4 values / 16 B, raw 16 B\n", "    probs\\u{1b}[2J\\u{1b}[31m Softmax      8 ops\n"}},
      {{"explain"}, {"Model: m\\xff.onnx\n"}},
      {{"diff", path}, {"Old: m\\xff.onnx\nNew: m\\xff.onnx\n"}},
      {{"explain-diff", path}, {"Old: m\\xff.onnx\nNew: m\\xff.onnx\n"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.command;
    args.push_back(path);
    testing::CommandRun run = run_command(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(only_printable_lines(run.out)) << run.out;
    for (const std::string& line : c.lines) EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  }

  // JSON escapes control characters as JSON does and replaces the invalid byte of the name.
  testing::CommandRun json = run_command({"onnx", "--json", path});
  ASSERT_EQ(json.status, 0) << json.err;
  nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["summary"]["path"], "m\xEF\xBF\xBD.onnx");
  EXPECT_EQ(document["summary"]["graph"], "g\nStatus: PASS");
  EXPECT_NE(json.out.find("\"g\\nStatus: PASS\""), std::string::npos);
}

TEST(OnnxReport, CommandLineRefusals) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"onnx"}, "usage: tarnwick onnx [--json] [--limit 20] <model.onnx>"},
      {{"onnx", "a.onnx", "--limit"}, "--limit needs a number"},
      {{"onnx", "--limit", "-1", "a.onnx"}, "parse --limit: invalid digit found in string"},
      {{"onnx", "a.onnx", "b.onnx"}, "unexpected argument `b.onnx`"},
      {{"onnx", "--deep", "a.onnx"}, "unexpected argument `a.onnx`"},
      {{"inspect", "--deep", "a.onnx"}, "--deep inspection is currently only supported for CatBoost artifacts."},
      {{"onnx", "/nonexistent/a.onnx"}, "read /nonexistent/a.onnx: No such file or directory"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_command(c.args).err, "error: " + c.error + "\n");
}

std::string graph_with(const std::vector<std::pair<std::string, int>>& ops,
                       const std::vector<std::vector<std::uint64_t>>& weights = {}) {
  Message graph;
  int n = 0;
  for (const auto& [op, count] : ops) {
    for (int i = 0; i < count; ++i) {
      graph.add_message(1, node(op, op + std::to_string(n++), {"in"}, {"out"}));
    }
  }
  int w = 0;
  for (const auto& dims : weights) graph.add_message(5, initializer("w" + std::to_string(w++), dims, 1, ""));
  return testing::model(graph);
}

TEST(OnnxExplain, VerdictsLayersAndHiddenSize) {
  TempDir dir;
  struct Case {
    std::string bytes;
    std::vector<std::string> expected_lines;
    std::vector<std::string> absent_lines;
  };
  const Case cases[] = {
      {graph_with({{"Softmax", 12}, {"MatMul", 48}, {"LayerNormalization", 25}},
                  {{768, 768}, {768, 3072}, {3072, 768}, {768}}),
       {"This model appears to be a transformer.\n", "  - 12 Softmax nodes\n", "  - 48 MatMul nodes\n",
        "  - 25 LayerNormalization operators\n", "  Encoder/attention layers: ~12\n", "  Hidden size: ~768\n",
        "  Transformers repeatedly use MatMul for projections and attention scores.\n",
        "  LayerNormalization is common around transformer attention/MLP blocks.\n"},
       {"no Softmax/MatMul"}},
      {graph_with({{"Gemm", 2}, {"Relu", 3}}, {{512, 1024}, {1024, 512}}),
       {"This model does not strongly look like a transformer from static ops alone.\n", "  - 2 Gemm nodes\n",
        "  Encoder/attention layers: unknown\n", "  Hidden size: ~1024\n",
        "Why:\n  Hidden size is inferred from common weight dimensions, not model config.\n\nNote:\n"},
       {"no Softmax/MatMul", "Relu"}},
      {graph_with({{"Relu", 2}}, {{1, 1}}),
       {"  - no Softmax/MatMul/LayerNormalization pattern found\n", "  Hidden size: unknown\n", "Why:\n\nNote:\n",
        "  Estimated ops: 0\n"},
       {}},
      {graph_with({{"Attention", 1}, {"Softmax", 1}}),
       {"This model has transformer-like signals.\n", "  - 1 Attention operator\n", "  - 1 Softmax node\n",
        "  Encoder/attention layers: ~1\n", "  - node names mention attention\n"},
       {}},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command({"explain", dir.write("m.onnx", c.bytes)});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("ONNX Architecture Explanation\n-----------------------------\nModel: m.onnx\n\n"));
    for (const std::string& line : c.expected_lines)
      EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    for (const std::string& text : c.absent_lines) EXPECT_EQ(run.out.find(text), std::string::npos) << text;
  }
}

TEST(OnnxDiff, TensorAndOperatorChanges) {
  TempDir dir;
  Message changed = classifier_graph(std::string(16, '\x02'));
  Message external;
  external.add_bytes(8, "ext").add_varint(2, 1).add_varint(1, 3).add_varint(14, 1);
  changed.add_message(5, external).add_message(1, node("Attention", "att", {"x"}, {"a"}));
  std::string old_path = dir.write("old.onnx", testing::model(classifier_graph()));
  std::string new_path = dir.write("new.onnx", testing::model(changed));
  testing::CommandRun run = run_command({"diff", old_path, new_path});
  ASSERT_EQ(run.status, 0) << run.err;
  testing::expect_golden(run.out, "onnx/classifier_pair.diff.txt");
  EXPECT_NE(run.out.find("  Added:\n    ext [3] float32, external data\n  Changed:\n    W [4, 10] float32, data 0x"),
            std::string::npos);
  EXPECT_NE(run.out.find("Operator Count Changes:\n  Attention                0 -> 1 (+1)\n"), std::string::npos);

  testing::CommandRun json = run_command({"diff", "--json", old_path, new_path});
  nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["parameter_tensors"]["added_count"], 1);
  EXPECT_EQ(document["parameter_tensors"]["changed_count"], 1);
  EXPECT_EQ(document["changes"]["nodes"]["delta"], 1);
  EXPECT_EQ(document["operator_count_changes"][0]["op"], "Attention");

  testing::CommandRun same = run_command({"diff", old_path, old_path});
  EXPECT_NE(same.out.find("Parameter tensor changes:\n  none detected from initializer metadata\n\n"
                          "Operator Count Changes:\n"),
            std::string::npos);
  EXPECT_TRUE(same.out.ends_with("Operator Count Changes:\n\nNote:\n"
                                 "  Old model: Estimated ops take the symbolic dimensions batch as 1.\n"
                                 "  New model: Estimated ops take the symbolic dimensions batch as 1.\n"));
  testing::CommandRun noted = run_command({"diff", "--deep", old_path, old_path});
  EXPECT_EQ(noted.out, "Note: --deep is currently only used for CatBoost artifacts.\n\n" + same.out);
}

TEST(OnnxCorpus, WholeReportsOfRealModels) {
  TARNWICK_REQUIRE_CORPUS("onnx");
  std::filesystem::path pytorch = testing::corpus_dir() / "pytorch";
  struct Case {
    std::vector<std::string> args;
    const char* golden;
  };
  const Case cases[] = {
      {{"inspect", (corpus / "light__light_resnet50.onnx.onnx").string()}, "onnx/resnet50.inspect.txt"},
      {{"explain", (corpus / "light__light_densenet121.onnx.onnx").string()}, "onnx/densenet121.explain.txt"},
      {{"onnx", "--json", (corpus / "pytorch-converted__test_Conv2d.onnx").string()}, "onnx/conv2d.inspect.json"},
      {{"explain", (pytorch / "encoder.onnx").string()}, "onnx/encoder.explain.txt"},
      {{"diff", (pytorch / "mlp.onnx").string(), (pytorch / "mlp_wider.onnx").string()}, "onnx/mlp_vs_wider.diff.txt"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    testing::expect_golden(run.out, c.golden);
  }
}

}  // namespace
}  // namespace tarnwick
