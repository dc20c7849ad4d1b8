#include "onnx/external_data.h"

#include <gtest/gtest.h>

#include "proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::external_tensor;
using testing::graph_attribute;
using testing::Message;
using testing::node;

TEST(ExternalData, ListsInitializersOfEveryGraphInFileOrder) {
  Message then_branch;
  then_branch.add_message(5, external_tensor("t_w", {2}, {{"location", "then.bin"}}));
  Message loop_body;
  loop_body.add_message(5, external_tensor("b_w", {3}, {{"location", "body.bin"}, {"offset", "x"}}));
  Message if_node = node("If", "cond", {"c"}, {"y"});
  if_node.add_message(5, graph_attribute("then_branch", then_branch));
  Message loop_node = node("Loop", "", {"n", "c"}, {"z"});
  loop_node.add_message(5, graph_attribute("body", loop_body));
  Message graph;
  graph.add_message(1, if_node)
      .add_message(1, loop_node)
      .add_message(5, testing::initializer("inline", {2}, 1, std::string(8, '\0')))
      .add_message(5, external_tensor("w", {4, 4},
                                      {{"location", "w.bin"}, {"offset", "128"}, {"length", "64"}, {"checksum", "abc"}}));
  std::string bytes = testing::model(graph);
  Result<OnnxModel> model = decode_onnx_model(bytes);
  ASSERT_TRUE(model.is_ok()) << model.message();
  std::vector<ExternalDataRef> refs = list_external_data(model.value().graph);
  ASSERT_EQ(refs.size(), 3u);
  EXPECT_EQ(refs[0].tensor, "w");
  EXPECT_EQ(refs[0].graph, "");
  EXPECT_EQ(refs[0].location, "w.bin");
  EXPECT_EQ(refs[0].offset_value, 128u);
  EXPECT_EQ(refs[0].length_value, 64u);
  EXPECT_EQ(refs[0].checksum, "abc");
  EXPECT_EQ(refs[0].entries.size(), 4u);
  EXPECT_EQ(refs[1].tensor, "t_w");
  EXPECT_EQ(refs[1].graph, "cond/then_branch");
  EXPECT_EQ(refs[2].graph, "node_2/body");
  EXPECT_EQ(refs[2].offset, "x");
  EXPECT_EQ(refs[2].offset_value, std::nullopt);
  EXPECT_EQ(refs[2].length, std::nullopt);
}

TEST(ExternalData, LocationEscapes) {
  testing::TempDir dir;
  testing::TempDir outside;
  std::filesystem::create_directories(dir.path() / "sub");
  dir.write("w.bin", "");
  outside.write("secret.bin", "");
  std::filesystem::create_symlink(outside.path() / "secret.bin", dir.path() / "link.bin");
  std::filesystem::create_symlink(outside.path(), dir.path() / "linkdir");
  std::filesystem::create_symlink(dir.path() / "w.bin", dir.path() / "inner_link.bin");
  struct Case {
    std::string location;
    bool escapes;
  };
  const Case cases[] = {
      {"w.bin", false},
      {"sub/../w.bin", false},
      {"./sub/x.bin", false},
      {"missing.bin", false},
      {"inner_link.bin", false},
      {"", false},
      {"/etc/passwd", true},
      {"\\\\server\\share\\w.bin", true},
      {"C:\\w.bin", true},
      {"../w.bin", true},
      {"sub/../../w.bin", true},
      {"sub\\..\\..\\w.bin", true},
      {"link.bin", true},
      {"linkdir/secret.bin", true},
      {"linkdir/missing.bin", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(location_escapes(dir.path(), c.location), c.escapes) << c.location;
  }
}

TEST(ExternalData, ExistsAndSizeSuffices) {
  testing::TempDir dir;
  dir.write("w.bin", std::string(100, 'x'));
  std::filesystem::create_directories(dir.path() / "folder.bin");
  struct Case {
    std::vector<std::pair<std::string, std::string>> entries;
    std::vector<std::int64_t> dims;
    bool exists;
    std::optional<bool> suffices;
    std::optional<std::uint64_t> needed;
  };
  const Case cases[] = {
      {{{"location", "w.bin"}, {"offset", "36"}, {"length", "64"}}, {16}, true, true, 100},
      {{{"location", "w.bin"}, {"offset", "37"}, {"length", "64"}}, {16}, true, false, 101},
      {{{"location", "w.bin"}}, {25}, true, true, 100},            // no length: the tensor's own bytes
      {{{"location", "w.bin"}, {"offset", "4"}}, {25}, true, false, 104},
      {{{"location", "w.bin"}, {"length", "-1"}}, {1}, true, std::nullopt, std::nullopt},
      {{{"location", "w.bin"}, {"offset", "18446744073709551615"}, {"length", "2"}}, {1}, true, std::nullopt,
       std::nullopt},
      {{{"location", "gone.bin"}, {"length", "4"}}, {1}, false, std::nullopt, 4},
      {{{"location", "folder.bin"}}, {1}, false, std::nullopt, 4},
      {{{"location", "../w.bin"}}, {1}, false, std::nullopt, 4},
      {{{"offset", "0"}}, {1}, false, std::nullopt, std::nullopt},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    ExternalDataRef ref;
    ref.dims = c.dims;
    ref.data_type = 1;
    for (const auto& [key, value] : c.entries) {
      if (key == "location") ref.location = value;
      if (key == "offset") {
        ref.offset = value;
        if (auto parsed = value.find_first_not_of("0123456789"); parsed == std::string::npos && value.size() < 20)
          ref.offset_value = std::stoull(value);
      }
      if (key == "length") {
        ref.length = value;
        if (value.find_first_not_of("0123456789") == std::string::npos) ref.length_value = std::stoull(value);
      }
    }
    ExternalDataCheck check = check_external_data(dir.path(), ref);
    EXPECT_EQ(check.exists, c.exists) << k;
    EXPECT_EQ(check.size_suffices, c.suffices) << k;
    EXPECT_EQ(check.needed_bytes, c.needed) << k;
  }
}

TEST(ExternalData, NestingDepthIsBounded) {
  Message graph;
  for (int level = 0; level < kMaxGraphNesting + 2; ++level) {
    Message holder = node("If", "", {"c"}, {"y"});
    holder.add_message(5, graph_attribute("then_branch", graph));
    graph = Message().add_message(1, holder);
  }
  std::string bytes = testing::model(graph);
  Result<OnnxModel> model = decode_onnx_model(bytes);
  ASSERT_FALSE(model.is_ok());
  EXPECT_EQ(model.message(), "ONNX graph nesting exceeded 64 levels");
}

}  // namespace
}  // namespace tarnwick
