#include <gtest/gtest.h>

#include <filesystem>

#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

const std::string kInline(16, '\x11');
const std::string kConstant(8, '\x22');
const std::string kSparseValues(8, '\x33');
const std::string kSparseIndices = le64(3) + le64(9);
// weights.bin: 8 bytes before the tensor, its 16 bytes, 8 after.
const std::string kWeights = std::string(8, '\x55') + std::string(16, '\x66') + std::string(8, '\x77');

// One tensor of each kind: an inline initializer, a Constant node, a sparse initializer and
// external data.
std::string model_bytes() {
  Message value;
  value.add_bytes(1, "value").add_message(5, initializer("", {2}, 1, kConstant));
  Message constant = node("Constant", "", {}, {"c.node"});
  constant.add_message(5, value);
  Message sparse;
  sparse.add_message(1, initializer("s.sparse", {2}, 1, kSparseValues))
      .add_message(2, initializer("", {2}, 7, kSparseIndices))
      .add_varint(3, 10);
  Message external;
  Message location, offset, length;
  location.add_bytes(1, "location").add_bytes(2, "weights.bin");
  offset.add_bytes(1, "offset").add_bytes(2, "8");
  length.add_bytes(1, "length").add_bytes(2, "16");
  external.add_varint(1, 4).add_varint(2, 1).add_bytes(8, "w.ext").add_message(13, location).add_message(13, offset)
      .add_message(13, length).add_varint(14, 1);
  Message graph;
  graph.add_message(1, constant)
      .add_message(5, initializer("w.inline", {4}, 1, kInline))
      .add_message(5, external)
      .add_message(15, sparse);
  return model(graph);
}

std::string write_model(const TempDir& dir, const std::string& folder, const std::string& model,
                        const std::optional<std::string>& weights) {
  std::filesystem::create_directories(dir.path() / folder);
  if (weights) dir.write(folder + "/weights.bin", *weights);
  return dir.write(folder + "/model.onnx", model);
}

std::string flipped_inside(std::string bytes, const std::string& data) {
  std::size_t at = bytes.find(data);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.rfind(data), at) << "the data must be unique to find it";
  bytes[at + data.size() / 2] ^= 0x01;
  return bytes;
}

// Flipping one byte inside one tensor's data names exactly that tensor; one outside any tensor
// (in weights.bin) changes none.
TEST(OnnxContentsDiff, AFlippedByteNamesItsTensor) {
  const std::string model = model_bytes();
  TempDir dir;
  std::string old_path = write_model(dir, "old", model, kWeights);
  std::string outside = kWeights;
  outside[2] ^= 0x01;
  struct Case {
    std::string name;  // the tensor expected as changed, or empty for none
    std::string model, weights;
  };
  const std::vector<Case> cases{
      {"w.inline", flipped_inside(model, kInline), kWeights},
      {"c.node", flipped_inside(model, kConstant), kWeights},
      {"s.sparse", flipped_inside(model, kSparseValues), kWeights},
      {"s.sparse", flipped_inside(model, kSparseIndices), kWeights},
      {"w.ext", model, flipped_inside(kWeights, std::string(16, '\x66'))},
      {"", model, outside},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string new_path = write_model(dir, "new", c.model, c.weights);
    CommandRun run = run_command({"diff", "--contents", "--json", old_path, new_path});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json document = nlohmann::json::parse(run.out);
    nlohmann::json expected_changed = nlohmann::json::array();
    if (!c.name.empty()) expected_changed.push_back(c.name);
    nlohmann::json changed = nlohmann::json::array();
    for (const auto& change : document["changed"]) {
      changed.push_back(change["name"]);
      EXPECT_EQ(change["what"], nlohmann::json::array({"values"}));
    }
    EXPECT_EQ(changed, expected_changed);
    EXPECT_EQ(document["unchanged_count"], 4 - expected_changed.size());
    EXPECT_EQ(document["uncompared"], nlohmann::json::array());
  }
}

// A tensor whose bytes cannot be read is listed with the reason and never counted unchanged.
TEST(OnnxContentsDiff, ListsWhatItCouldNotCompare) {
  const std::string model = model_bytes();
  TempDir dir;
  std::string complete = write_model(dir, "complete", model, kWeights);
  std::string missing = write_model(dir, "missing", model, std::nullopt);
  std::string short_file = write_model(dir, "short", model, kWeights.substr(0, 20));

  CommandRun text = run_command({"diff", "--contents", complete, missing});
  ASSERT_EQ(text.status, 0) << text.err;
  expect_golden(with_dir_placeholder(text.out, dir), "onnx/external-missing.diff-contents.txt");

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{complete, missing}, "new: external data file \"weights.bin\" not found"},
      {{missing, complete}, "old: external data file \"weights.bin\" not found"},
      {{short_file, missing},
       "old: external data file \"weights.bin\" holds 20 bytes; the tensor needs 16 from offset 8; "
       "new: external data file \"weights.bin\" not found"},
  };
  for (const auto& [paths, reason] : cases) {
    SCOPED_TRACE(reason);
    CommandRun run = run_command({"diff", "--contents", "--json", paths[0], paths[1]});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json document = nlohmann::json::parse(run.out);
    EXPECT_EQ(document["uncompared"], nlohmann::json::parse(R"([{"name": "w.ext", "reason": )" +
                                                            nlohmann::json(reason).dump() + "}]"));
    EXPECT_EQ(document["unchanged_count"], 3);
    EXPECT_EQ(document["changed"], nlohmann::json::array());
  }
}

}  // namespace
}  // namespace tarnwick::testing
