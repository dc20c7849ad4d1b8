// Every command over every file of the hostile corpus, in this process: each run must end with
// status 0 and nothing on standard error, or with status 1 and exactly one line beginning
// "error: ". A crash, a sanitizer report or a hang fails the test process itself.
// (tests/hostile/run_hostile_corpus.sh runs a sample of the same through the real binary.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::vector<std::string> corpus_files(const std::string& kind) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(fs::path(TARNWICK_SOURCE_DIR) / "tests/hostile/corpus" / kind)) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<Args> artifact_commands(const std::string& file, const std::string& kind_command) {
  return {{"inspect", file},
          {"inspect", "--json", file},
          {kind_command, "--limit", "3", file},
          {"explain", file},
          {"diff", file, file},
          {"diff", "--json", file, file},
          {"check", "--max-size-growth", "0", file, file},
          {"explain-diff", file, file},
          {"scan", file},
          {"scan", "--json", file},
          {"contents", file},
          {"contents", "--json", file},
          {"diff", "--contents", file, file}};
}

std::vector<Args> commands_for(const std::string& kind, const std::string& file) {
  if (kind == "plan") {
    std::vector<Args> runs;
    for (const char* command : {"validate", "trace", "compare", "why", "tensor-inspect", "explain-model", "quiz",
                                "inspect", "explain"}) {
      runs.push_back({command, file});
    }
    runs.push_back({"run", "--values", "--heatmap", file});
    runs.push_back({"bench", "--iters", "2", file});
    return runs;
  }
  std::string kind_command = kind == "cbm" ? "catboost" : kind == "safetensors" || kind == "gguf" || kind == "numpy" || kind == "tflite" || kind == "keras" || kind == "xgboost" ? "contents" : kind;
  std::vector<Args> runs = artifact_commands(file, kind_command);
  if (kind == "onnx") {
    runs.push_back({"check", "--max-ops-growth", "0", "--max-parameter-growth", "0", "--fail-on-new-op", file, file});
    runs.push_back({"profile", file});
    runs.push_back({"profile", "--json", file});
    runs.push_back({"profile", "--dim", "batch=3", file});  // refused unless the graph declares batch
  }
  if (kind == "xgboost") {
    runs.push_back({"check", "--fail-on-feature-change", "--fail-on-training-config-change", file, file});
  }
  if (kind == "safetensors" || kind == "gguf" || kind == "numpy" || kind == "tflite" || kind == "keras") {
    runs.push_back({"check", "--max-parameter-growth", "0", "--fail-on-feature-change", "--fail-on-training-config-change",
                    file, file});
  }
  if (kind != "cbm" && kind != "lightgbm") {  // the tensor kinds: their values too
    runs.push_back({"contents", "--stats", "--json", file});
    runs.push_back({"diff", "--contents", "--values", file, file});
    runs.push_back({"check", "--fail-on-nonfinite", "--max-tensor-change", "0", file, file});
  }
  if (kind == "safetensors" || kind == "gguf") {
    runs.push_back({"profile", file});
    runs.push_back({"profile", "--json", "--context", "18446744073709551615", "--batch", "4294967296", "--cache-dtype",
                    "q4_0", file});
    runs.push_back({"check", "--max-serving-memory", "1GiB", file, file});
  }
  return runs;
}

// What is wrong with one run's ending, or nothing.
std::string problem_with(const testing::CommandRun& run) {
  if (run.status == 0) return run.err.empty() ? "" : "status 0 with standard error";
  if (run.status != 1) return "status " + std::to_string(run.status);
  std::size_t error_lines = 0;
  for (std::size_t at = 0; at < run.err.size(); at = run.err.find('\n', at) + 1) {
    if (run.err.compare(at, 7, "error: ") == 0) ++error_lines;
    if (run.err.find('\n', at) == std::string::npos) break;
  }
  return error_lines == 1 && run.err.starts_with("error: ") ? "" : "status 1 without exactly one error line";
}

class HostileCorpus : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    // No interpreter to find: the Python-backed sections take their fallback quickly; and no
    // .venv in the working directory.
    for (const char* name : {"PATH", "VESPRINE_PYTHON"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("PATH", "/nonexistent", 1);
    ::setenv("VESPRINE_PYTHON", "/nonexistent/python", 1);
    previous_ = fs::current_path();
    fs::current_path(work_.path());
  }
  void TearDown() override {
    fs::current_path(previous_);
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1); else ::unsetenv(name.c_str());
    }
  }

 private:
  testing::TempDir work_;
  fs::path previous_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_P(HostileCorpus, EveryCommandEndsWithAStatusAndAtMostOneError) {
  std::size_t runs = 0;
  for (const std::string& file : corpus_files(GetParam())) {
    for (const Args& args : commands_for(GetParam(), file)) {
      testing::CommandRun run = testing::run_command(args);
      ++runs;
      std::string problem = problem_with(run);
      std::string shown;
      for (const std::string& arg : args) shown += " " + arg;
      EXPECT_EQ(problem, "") << "tarnwick" << shown << "\n" << run.err.substr(0, 600);
    }
  }
  EXPECT_GT(runs, 20u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileCorpus,
                         ::testing::Values("cbm", "lightgbm", "onnx", "pytorch", "safetensors", "gguf", "numpy", "tflite", "keras",
                                           "plan", "xgboost"));

}  // namespace
}  // namespace tarnwick
