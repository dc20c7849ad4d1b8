#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../onnx/proto_builder.h"
#include "../safetensors/safetensors_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

std::string lightgbm_text(const std::string& names, const std::string& learning_rate, int trees) {
  std::string text = "tree\nversion=v3\nmax_feature_idx=1\nfeature_names=" + names + "\n";
  for (int i = 0; i < trees; ++i) text += "\nTree=" + std::to_string(i) + "\nleaf_value=0.1\n";
  return text + "\nparameters:\n[learning_rate: " + learning_rate + "]\nend of parameters\n";
}

std::string onnx_with_ops(const std::vector<std::string>& ops) {
  testing::Message graph;
  for (const std::string& op : ops) graph.add_message(1, testing::node(op, "n", {"x"}, {"y"}));
  return testing::model(graph);
}

std::string safetensors_with(const std::vector<std::pair<std::string, std::uint64_t>>& tensors,
                             const std::string& rope) {
  std::vector<testing::SafetensorsTensor> written;
  for (const auto& [name, count] : tensors) {
    written.push_back({name, "F32", {count}, testing::counting_bytes(4 * count)});
  }
  return testing::safetensors_file(written, {{"rope", rope}});
}

// The JSON form carries the text report's verdicts, rule by rule, and the same exit status.
void expect_same_verdicts(const testing::CommandRun& json, const testing::CommandRun& text) {
  EXPECT_EQ(json.status, text.status);
  EXPECT_EQ(json.err, text.err);
  nlohmann::json document = nlohmann::json::parse(json.out);
  for (const nlohmann::json& check : document["checks"]) {
    std::string line = "  " + check["status"].get<std::string>() + " " + check["rule"].get<std::string>() + ": " +
                       check["message"].get<std::string>() + "\n";
    EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;
  }
  EXPECT_NE(text.out.find("\nStatus: " + document["status"].get<std::string>() + "\n"), std::string::npos);
}

TEST(CheckJson, WholeDocumentsForRepresentativePairs) {
  TempDir dir;
  const std::string lgb_old = dir.write("old.txt", lightgbm_text("x y", "0.1", 1));
  const std::string lgb_new = dir.write("new.txt", lightgbm_text("x z", "0.2", 3));
  const std::string onnx_old = dir.write("old.onnx", onnx_with_ops({"Relu", "Gemm"}));
  const std::string onnx_new = dir.write("new.onnx", onnx_with_ops({"Relu", "Softmax", "Erf"}));
  const std::string st_old = dir.write("old.safetensors", safetensors_with({{"w", 8}, {"b", 2}}, "none"));
  const std::string st_new = dir.write("new.safetensors", safetensors_with({{"w", 8}, {"bias", 4}}, "linear"));
  const std::string cbm_old = dir.write("old.cbm", R"(CBM1{"boosting_options":{},"flat_params":{"learning_rate":0.1}})");
  const std::string cbm_new = dir.write("new.cbm", R"(CBM1{"boosting_options":{},"flat_params":{"learning_rate":0.1}})");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* golden;
  };
  const Case cases[] = {
      {{"--max-size-growth", "500", "--fail-on-feature-change", "--fail-on-training-config-change", lgb_old, lgb_new},
       1,
       "main/lightgbm_pair.check.json"},
      {{"--fail-on-new-op", "--max-size-growth=inf", onnx_old, onnx_new}, 1, "main/onnx_new_ops.check.json"},
      {{"--max-parameter-growth", "50%", "--fail-on-feature-change", "--fail-on-training-config-change", st_old,
        st_new},
       1,
       "main/safetensors_pair.check.json"},
      {{"--max-size-growth", "0", "--fail-on-training-config-change", cbm_old, cbm_new}, 0, "main/catboost_same.check.json"},
      {{onnx_old, onnx_new}, 0, "main/no_rules.check.json"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> json_args{"check", "--json"}, text_args{"check"};
    json_args.insert(json_args.end(), c.args.begin(), c.args.end());
    text_args.insert(text_args.end(), c.args.begin(), c.args.end());
    testing::CommandRun json = run_command(json_args);
    EXPECT_EQ(json.status, c.status) << c.golden << json.err;
    EXPECT_EQ(json.err, c.status ? "error: check failed\n" : "") << c.golden;
    testing::expect_golden(testing::with_dir_placeholder(json.out, dir), c.golden);
    expect_same_verdicts(json, run_command(text_args));
  }
}

TEST(CheckJson, ErrorsPrintNoDocument) {
  TempDir dir;
  const std::string lgb = dir.write("m.lgb", lightgbm_text("x y", "0.1", 1));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"check", "--json", lgb}, "error: usage: tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] "
                                 "[--max-parameter-growth 30%] [--fail-on-feature-change] "
                                 "[--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>\n"},
      {{"check", "--json", "--max-ops-growth", "1", lgb, lgb}, "error: --max-ops-growth is only supported for ONNX artifacts.\n"},
      {{"check", "--json", lgb, "/nonexistent/m.lgb"}, "error: read /nonexistent/m.lgb: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

}  // namespace
}  // namespace tarnwick
