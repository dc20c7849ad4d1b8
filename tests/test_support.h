// Helpers shared by the tests: temporary files, in-process command runs, the shared corpus.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

struct CommandRun {
  int status = 0;
  std::string out;
  std::string err;
};

// Runs the command in-process as the process entry would, with the given standard input.
CommandRun run_command(const std::vector<std::string>& args, const std::string& input = "");

// A fresh directory removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes the bytes to a file in the directory and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::string& path);

// The path of a file in the project's examples/ folder.
std::string example(const char* name);
// The float32 values as little-endian bytes.
std::string floats(const std::vector<float>& values);

// Temporary paths vary from run to run: goldens show the directory as <dir>.
std::string with_dir_placeholder(std::string text, const TempDir& dir);

// Sets (or, with nullptr, unsets) an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Compares with tests/golden/{name}; TARNWICK_UPDATE_GOLDEN=1 rewrites the file instead.
void expect_golden(const std::string& actual, const std::string& name);

// ../shared/corpus relative to the project root (or $TARNWICK_CORPUS), or empty when it is absent.
std::filesystem::path corpus_dir();

}  // namespace tarnwick::testing

#define TARNWICK_REQUIRE_CORPUS(sub)                                                 \
  const std::filesystem::path corpus = ::tarnwick::testing::corpus_dir() / (sub);    \
  if (::tarnwick::testing::corpus_dir().empty() || !std::filesystem::exists(corpus)) \
  GTEST_SKIP() << "shared corpus folder " << (sub) << " not found beside the project (../shared/corpus)"
