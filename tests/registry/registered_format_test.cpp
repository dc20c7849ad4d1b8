// A format brought by the test binary alone: registered at run time, it reaches inspect, diff,
// contents, diff --contents and check through the registry, with no other file touched.
#include <gtest/gtest.h>

#include <sstream>

#include "registry/registry.h"
#include "tables/tensor_table.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;

// "TOY1" then one tensor a line: "<name> <count of float32 values>".
Result<TensorTable> read_toy_table(const std::string& path) {
  std::istringstream lines(testing::read_file(path));
  std::string magic;
  if (!std::getline(lines, magic) || magic != "TOY1") return fail("not a toy model: " + path);
  TensorTable table;
  table.path = path;
  table.format = "toy";
  std::string name;
  std::uint64_t count = 0;
  while (lines >> name >> count) {
    TensorEntry& entry = table.tensors.emplace_back();
    entry.name = name;
    entry.dtype = "float32";
    entry.shape = {count};
    entry.numel = count;
    entry.bytes = count * 4;
    entry.content_hash = count;
  }
  return table;
}

std::uint64_t parameters(const TensorTable& table) {
  std::uint64_t total = 0;
  for (const TensorEntry& tensor : table.tensors) total += tensor.numel;
  return total;
}

Status inspect_toy(const Args& args, Io& io) {
  Result<TensorTable> table = read_toy_table(args.back());
  if (!table.is_ok()) return table.error();
  io.out << "Toy Model Summary\n-----------------\nTensors: " << table.value().tensors.size()
         << "\nParameters: " << parameters(table.value()) << "\n";
  return Status::ok();
}

Status diff_toy(const std::string& old_path, const std::string& new_path, const DiffRequest&, Io& io) {
  Result<TensorTable> old_table = read_toy_table(old_path);
  Result<TensorTable> new_table = read_toy_table(new_path);
  if (!old_table.is_ok() || !new_table.is_ok()) return fail("unreadable toy model");
  io.out << "Toy Diff\nParameters: " << parameters(old_table.value()) << " -> " << parameters(new_table.value())
         << "\n";
  return Status::ok();
}

Result<CheckOutcome> check_toy(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  Result<TensorTable> old_table = read_toy_table(old_path);
  Result<TensorTable> new_table = read_toy_table(new_path);
  if (!old_table.is_ok() || !new_table.is_ok()) return fail("unreadable toy model");
  CheckOutcome outcome{old_path, new_path, {}, {}};
  if (options.max_parameter_growth) {
    outcome.results.push_back(growth_check("parameter growth", parameters(old_table.value()),
                                           parameters(new_table.value()), *options.max_parameter_growth));
  }
  return outcome;
}

const FormatDescriptor kToyFormat{
    .name = "Toy",
    .extensions = {"toy"},
    .claims_content = [](const ContentProbe& probe) { return probe.head.starts_with("TOY1\n"); },
    .inspect = inspect_toy,
    .diff = diff_toy,
    .check = check_toy,
    .tensor_table = read_toy_table,
};

TEST(RegisteredFormat, ReachesEveryCommandThroughTheRegistry) {
  testing::TempDir dir;
  std::string small = dir.write("small.bin", "TOY1\nw 6\nb 2\n");  // content beats PyTorch's `.bin`
  std::string large = dir.write("large.toy", "TOY1\nw 12\nb 2\nextra 1\n");
  {
    testing::CommandRun unknown = run_command({"inspect", large});
    EXPECT_EQ(unknown.err, "error: unsupported artifact type for `" + large +
                               "`. Try .cbm, .lgb, .onnx, .pt/.pth, or .json.\n");
  }
  ScopedFormatRegistration registration(kToyFormat);
  EXPECT_EQ(kind_name(detect_format(small)), "Toy");

  testing::CommandRun inspected = run_command({"inspect", large});
  EXPECT_EQ(inspected.status, 0) << inspected.err;
  EXPECT_EQ(inspected.out, "Toy Model Summary\n-----------------\nTensors: 3\nParameters: 15\n");

  testing::CommandRun diffed = run_command({"diff", small, large});
  EXPECT_EQ(diffed.out, "Toy Diff\nParameters: 8 -> 15\n");

  testing::CommandRun contents = run_command({"contents", "--json", small});
  ASSERT_EQ(contents.status, 0) << contents.err;
  Json table = Json::parse(contents.out);
  EXPECT_EQ(table["format"], "toy");
  EXPECT_EQ(table["parameter_count"], 8);
  EXPECT_EQ(table["tensors"][1]["name"], "b");

  testing::CommandRun changed = run_command({"diff", "--contents", "--json", small, large});
  ASSERT_EQ(changed.status, 0) << changed.err;
  Json diff = Json::parse(changed.out);
  EXPECT_EQ(diff["added"], Json::array({"extra"}));
  EXPECT_EQ(diff["changed"][0]["name"], "w");

  testing::CommandRun gate = run_command({"check", "--max-parameter-growth", "50%", small, large});
  EXPECT_EQ(gate.status, 1);
  EXPECT_NE(gate.out.find("Type: Toy\n"), std::string::npos) << gate.out;
  EXPECT_NE(gate.out.find("  FAIL parameter growth: 87.50% <= 50.00% (8 -> 15)\n"), std::string::npos) << gate.out;
  EXPECT_EQ(gate.err, "error: check failed\n");

  testing::CommandRun refused = run_command({"explain-diff", small, large});
  EXPECT_EQ(refused.err, "error: explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): "
                         "Toy vs Toy\n");
}

}  // namespace
}  // namespace tarnwick
