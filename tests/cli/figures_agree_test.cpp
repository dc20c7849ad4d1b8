// Every corpus file's parameter count and estimated ops read the same in inspect, diff, check and
// explain-diff: each command is run on the real file and its figure compared with inspect's.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>

#include "base/format.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using Json = nlohmann::json;

struct Kind {
  const char* name;
  std::vector<std::string> endings;
  // Where inspect --json and diff --json (per side) keep the two figures; ops empty when the
  // kind has none.
  std::string parameters_key;
  std::string ops_key;
  const char* explain_parameters_label;  // the explain-diff line that shows the counts
};

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> kKinds = {
      {"ONNX", {".onnx"}, "parameter_values", "estimated_ops", "  Parameters:        "},
      {"PyTorch", {".pt", ".pth", ".bin", ".ckpt", ".jit"}, "estimated_parameter_count", "", "  Parameters (est):  "},
      {"safetensors", {".safetensors"}, "parameter_count", "", "  Parameters:        "},
      {"GGUF", {".gguf"}, "parameter_count", "", "  Parameters:        "},
  };
  return kKinds;
}

const Kind* kind_of(const std::filesystem::path& file) {
  std::string name = file.filename().string();
  for (const Kind& kind : kinds()) {
    for (const std::string& ending : kind.endings) {
      if (name.ends_with(ending)) return &kind;
    }
  }
  return nullptr;
}

struct Figures {
  std::uint64_t parameters = 0;
  std::optional<std::uint64_t> ops;
};

// inspect --json: ONNX nests its figures in "summary".
std::optional<Figures> inspected(const Kind& kind, const std::string& path) {
  testing::CommandRun run = run_command({"inspect", "--json", path});
  if (run.status != 0) return std::nullopt;
  Json document = Json::parse(run.out);
  const Json& summary = document.contains("summary") ? document["summary"] : document;
  Figures figures{summary.at(kind.parameters_key).get<std::uint64_t>(), std::nullopt};
  if (!kind.ops_key.empty()) figures.ops = summary.at(kind.ops_key).get<std::uint64_t>();
  return figures;
}

// The "(old -> new)" counts at the end of a check line.
std::pair<std::uint64_t, std::uint64_t> check_counts(const std::string& report, const std::string& rule) {
  std::smatch match;
  std::regex line("  (PASS|FAIL) " + rule + ": .*\\((\\d+) -> (\\d+)\\)\n");
  if (!std::regex_search(report, match, line)) {
    ADD_FAILURE() << "no " << rule << " line in\n" << report;
    return {0, 0};
  }
  return {std::stoull(match[2]), std::stoull(match[3])};
}

void expect_figures_agree(const Kind& kind, const std::string& path, const Figures& mine, const std::string& other,
                          const Figures& theirs) {
  SCOPED_TRACE(path + " against " + other);
  testing::CommandRun diff = run_command({"diff", "--json", path, path});
  ASSERT_EQ(diff.status, 0) << diff.err;
  Json document = Json::parse(diff.out);
  EXPECT_EQ(document["old"][kind.parameters_key], mine.parameters);
  EXPECT_EQ(document["new"][kind.parameters_key], mine.parameters);
  if (mine.ops) {
    EXPECT_EQ(document["old"][kind.ops_key], *mine.ops);
    EXPECT_EQ(document["changes"]["estimated_ops"]["new"], *mine.ops);
  }

  std::vector<std::string> check{"check", "--max-parameter-growth", "1e12", path, other};
  if (mine.ops) check.insert(check.begin() + 1, {"--max-ops-growth", "1e12"});
  testing::CommandRun checked = run_command(check);
  EXPECT_EQ(check_counts(checked.out, "parameter growth"), std::make_pair(mine.parameters, theirs.parameters));
  if (mine.ops) {
    EXPECT_EQ(check_counts(checked.out, "estimated ops growth"), std::make_pair(*mine.ops, *theirs.ops));
  }

  testing::CommandRun explained = run_command({"explain-diff", path, other});
  ASSERT_EQ(explained.status, 0) << explained.err;
  std::string parameters = format_percent_change(mine.parameters, theirs.parameters);
  EXPECT_NE(explained.out.find(std::string(kind.explain_parameters_label) + format_count_short(mine.parameters) +
                               " -> " + format_count_short(theirs.parameters) + " (" + parameters + ")\n"),
            std::string::npos)
      << explained.out;
  if (mine.ops) {
    EXPECT_NE(explained.out.find("Estimated inference cost (static op proxy): " +
                                 format_percent_change(*mine.ops, *theirs.ops) + "\n"),
              std::string::npos)
        << explained.out;
  }
}

// Each file against itself, and against the next file of its kind in name order.
TEST(FiguresAgree, InspectDiffCheckAndExplainDiffOnEveryCorpusFile) {
  TARNWICK_REQUIRE_CORPUS("");
  std::map<const Kind*, std::vector<std::string>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(testing::corpus_dir())) {
    if (!entry.is_regular_file()) continue;
    if (const Kind* kind = kind_of(entry.path())) files[kind].push_back(entry.path().string());
  }
  std::size_t compared = 0;
  for (auto& [kind, paths] : files) {
    std::sort(paths.begin(), paths.end());
    std::vector<std::pair<std::string, Figures>> readable;
    for (const std::string& path : paths) {
      if (std::optional<Figures> figures = inspected(*kind, path)) readable.emplace_back(path, *figures);
    }
    for (std::size_t i = 0; i < readable.size(); ++i) {
      const auto& [path, figures] = readable[i];
      const auto& [other, other_figures] = readable[(i + 1) % readable.size()];
      expect_figures_agree(*kind, path, figures, other, other_figures);
      ++compared;
    }
  }
  EXPECT_GT(compared, 150u) << "the corpus's ONNX, PyTorch, safetensors and GGUF files";
}

}  // namespace
}  // namespace tarnwick
