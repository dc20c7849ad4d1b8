// Helpers shared by the tests: temporary files, in-process command runs, the shared corpus.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
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

// ../shared/corpus relative to the project root, or empty when it is absent.
std::filesystem::path corpus_dir();

}  // namespace tarnwick::testing

#define TARNWICK_REQUIRE_CORPUS(sub)                                                         \
  const std::filesystem::path corpus = ::tarnwick::testing::corpus_dir() / (sub);           \
  if (::tarnwick::testing::corpus_dir().empty() || !std::filesystem::exists(corpus))         \
  GTEST_SKIP() << "shared corpus folder " << (sub) << " not found beside the project (../shared/corpus)"
