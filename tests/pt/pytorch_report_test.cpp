#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.h"
#include "zip_builder.h"

namespace tarnwick {
namespace {

using testing::build_zip;
using testing::pickle_with_names;
using testing::run_command;
using testing::TempDir;

std::vector<std::string> names(int count) {
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) result.push_back("layer" + std::to_string(i) + ".weight");
  return result;
}

TEST(PytorchReport, TextReportsForZipAndLegacy) {
  TempDir dir;
  std::string zip = dir.write("m.pt", build_zip({{"m/data.pkl", pickle_with_names(names(25))},
                                                 {"m/data/0", std::string(4000, '\x02')},
                                                 {"m/version", "3\n"}}));
  std::string legacy = dir.write("old.pth", "\x80\x02" + pickle_with_names({"fc.weight"}, "HalfStorage"));
  testing::CommandRun run = run_command({"pytorch", "--limit", "2", zip, legacy});
  ASSERT_EQ(run.status, 0) << run.err;
  testing::expect_golden(run.out, "pt/zip_and_legacy.inspect.txt");
  EXPECT_NE(run.out.find("Serialization version: 3\n\nStructure:\n  Tensors (storages): 1\n"
                         "  Parameters (est):   1.0K\n  Parameter bytes:    3.9 KiB\n  Dominant dtype: float32\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("  found: 25\n  layer0.weight\n  layer1.weight\n  ... 23 more\n\nPyTorch Model Summary\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("Format: PyTorch (legacy pickle)\nFile size: 41 B\n\nStructure:\n"
                         "  Tensors (storages): unknown (legacy pickle)\n"),
            std::string::npos);

  testing::CommandRun zero = run_command({"pt", "--limit", "0", zip});
  EXPECT_TRUE(zero.out.ends_with("  found: 25\n  ... 25 more\n"));
}

TEST(PytorchReport, JsonKeepsRecordOrderAndDiffJsonSortsKeys) {
  TempDir dir;
  std::string a = dir.write("a.pt", build_zip({{"a/data.pkl", pickle_with_names({"x.weight"})}, {"a/data/0", "1234"}}));
  std::string b =
      dir.write("b.pt", build_zip({{"b/data.pkl", pickle_with_names({"y.weight"})}, {"b/data/0", "12345678"}}));
  testing::CommandRun one = run_command({"pytorch", "--json", a});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(one.out.starts_with("{\n  \"path\": \"a.pt\",\n  \"bytes\": "));
  EXPECT_NE(one.out.find("  \"torch_version\": null,\n  \"file_fingerprint\": "), std::string::npos);
  testing::CommandRun two = run_command({"inspect", a, "--json"});
  EXPECT_EQ(two.out, one.out);
  testing::CommandRun both = run_command({"pytorch", "--json", a, b});
  EXPECT_EQ(nlohmann::json::parse(both.out).size(), 2u);

  testing::CommandRun diff = run_command({"diff", "--json", a, b});
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_TRUE(diff.out.starts_with("{\n  \"new\": {\n    \"bytes\": "));
  EXPECT_TRUE(diff.out.ends_with("  \"type\": \"pytorch\"\n}\n"));
  EXPECT_TRUE(nlohmann::json::parse(diff.out)["old"]["file_fingerprint"].is_number_unsigned());

  EXPECT_EQ(run_command({"pytorch", "--deep", dir.path().string() + "/none.pt"}).err,
            "error: --deep inspection is currently only supported for CatBoost artifacts.\n");
  EXPECT_EQ(run_command({"pytorch"}).err,
            "error: usage: tarnwick pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]\n");
  testing::CommandRun failing = run_command({"pytorch", a, dir.write("bad.pt", "nope")});
  EXPECT_EQ(failing.status, 1);
  EXPECT_TRUE(failing.out.ends_with("... 0 more\n\n") || failing.out.ends_with("\n\n"));
}

TEST(PytorchCorpus, ReportsAndDiffsOfRealCheckpoints) {
  TARNWICK_REQUIRE_CORPUS("pytorch");
  auto at = [&](const char* name) { return (corpus / name).string(); };
  testing::CommandRun retrained = run_command({"diff", at("mlp.pt"), at("mlp_retrained.pt")});
  ASSERT_EQ(retrained.status, 0) << retrained.err;
  testing::expect_golden(retrained.out, "pt/mlp_vs_retrained.diff.txt");
  EXPECT_NE(retrained.out.find("Tensors (storages):\n  4 -> 4 (same)\nParameters (est):\n  676 -> 676 (same)\n"),
            std::string::npos);
  EXPECT_NE(retrained.out.find("Learned-state fingerprint (sampled):\n  0x"), std::string::npos);
  EXPECT_NE(retrained.out.find(" (changed)\n\nParameter Names:"), std::string::npos);
  EXPECT_NE(retrained.out.find("Feature name changes:\n  none detected\n"), std::string::npos);

  testing::CommandRun wider = run_command({"diff", at("mlp.pt"), at("mlp_wider.pt")});
  testing::expect_golden(wider.out, "pt/mlp_vs_wider.diff.txt");
  EXPECT_NE(wider.out.find("Parameters (est):\n  676 -> 1348 (+672)\n"), std::string::npos);

  testing::CommandRun deeper = run_command({"diff", at("mlp.pt"), at("mlp_deeper.pt")});
  testing::expect_golden(deeper.out, "pt/mlp_vs_deeper.diff.txt");
  EXPECT_NE(deeper.out.find("Feature name changes:\n  Added:\n"), std::string::npos);

  for (const char* name : {"encoder_ckpt.ckpt", "mlp_legacy.pth", "mlp_fp16.pt"}) {
    testing::CommandRun run = run_command({"inspect", at(name)});
    ASSERT_EQ(run.status, 0) << run.err;
    testing::expect_golden(run.out, std::string("pt/") + name + ".inspect.txt");
  }
}

}  // namespace
}  // namespace tarnwick
