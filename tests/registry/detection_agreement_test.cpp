// Every command decides a file's kind the same way: each corpus file, renamed to every
// extension a format claims (and to none), is the same kind for diff, check, explain-diff,
// diff --contents and scan, and inspect and contents refuse exactly the kinds they cannot read.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "registry/registry.h"
#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::run_command;

// The kind a pair command names in its refusal of `path` beside a file of another kind.
std::string kind_named_by(const std::vector<std::string>& command, const std::string& path, const std::string& other,
                          const std::string& prefix) {
  std::vector<std::string> args = command;
  args.push_back(path);
  args.push_back(other);
  testing::CommandRun run = run_command(args);
  std::string expected_start = "error: " + prefix;
  if (run.status != 1 || !run.err.starts_with(expected_start)) return "(" + run.err + ")";
  std::string rest = run.err.substr(expected_start.size());
  return rest.substr(0, rest.find(" vs "));
}

// scan's format names for each kind.
std::set<std::string> scan_formats_of(std::string_view kind) {
  if (kind == "PyTorch" || kind == "pickle" || kind == "NumPy") {  // numpy.load is one of the loaders that take any file
    return {"pytorch-zip", "pytorch-legacy", "pickle", "torchscript", "torch-package", "numpy", "numpy-npz", "joblib", "tar"};
  }
  if (kind == "ONNX") return {"onnx"};
  if (kind == "safetensors") return {"safetensors"};
  if (kind == "GGUF") return {"gguf"};
  if (kind == "Keras") return {"keras"};
  return {"unknown"};
}

std::string scanned_format(const std::string& path) {
  testing::CommandRun run = run_command({"scan", "--json", path});
  Json document = Json::parse(run.out, nullptr, false);
  if (document.is_discarded() || !document.contains("files")) return "(no report: " + run.err + ")";
  return document["files"][0]["format"].get<std::string>();
}

TEST(DetectionAgreement, EveryCommandGivesARenamedCorpusFileOneKind) {
  fs::path corpus = testing::corpus_dir();
  if (corpus.empty()) GTEST_SKIP() << "shared corpus not found beside the project (../shared/corpus)";
  std::set<std::string> names{""};
  for (const FormatDescriptor* format : registered_formats()) {
    for (std::string_view extension : format->extensions) names.insert("." + std::string(extension));
  }
  names.insert(".txt");
  testing::TempDir dir;
  // Partners of a kind that no corpus file has, so that every pair is refused at detection.
  std::string plan = dir.write("partner.json", "{}");
  std::string catboost = dir.write("partner.cbm", "CBM1");
  std::uint64_t files = 0, renamed = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const FormatDescriptor* original = detect_format(entry.path().string());
    bool claimed_by_content = original != nullptr && original->claims_content != nullptr;
    for (const std::string& name : names) {
      SCOPED_TRACE(entry.path().string() + " as " + (name.empty() ? "(no extension)" : name));
      fs::path link = dir.path() / ("model" + std::to_string(renamed++) + name);
      fs::create_symlink(entry.path(), link);
      const FormatDescriptor* format = detect_format(link.string());
      std::string kind(kind_name(format));
      if (claimed_by_content) {
        EXPECT_EQ(kind, kind_name(original)) << "the content decides, not the name";
      }
      std::string partner = kind == "tensor plan JSON" ? catboost : plan;
      EXPECT_EQ(kind_named_by({"diff"}, link.string(), partner, "cannot diff different or unsupported artifact types: "),
                kind);
      EXPECT_EQ(kind_named_by({"check"}, link.string(), partner, "cannot check different or unsupported artifact types: "),
                kind);
      EXPECT_EQ(kind_named_by({"diff", "--contents"}, link.string(), partner,
                              "cannot diff different or unsupported artifact types: "),
                kind);
      EXPECT_EQ(kind_named_by({"explain-diff"}, link.string(), partner,
                              "explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): "),
                kind);
      EXPECT_TRUE(scan_formats_of(kind).count(scanned_format(link.string()))) << kind;
      std::string refused = "error: unsupported artifact type for `" + link.string() + "`.";
      if (format == nullptr || format->inspect == nullptr) {
        EXPECT_TRUE(run_command({"inspect", link.string()}).err.starts_with(refused));
      }
      if (format == nullptr || (format->tensor_table == nullptr && format->tree_table == nullptr)) {
        EXPECT_TRUE(run_command({"contents", link.string()}).err.starts_with(refused));
      }
      fs::remove(link);
    }
  }
  EXPECT_GT(files, 100u);
}

}  // namespace
}  // namespace tarnwick
