#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "main/dispatch.h"

namespace tarnwick::testing {

CommandRun run_command(const std::vector<std::string>& args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  CommandRun run;
  run.status = run_tarnwick(args, in, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
  std::filesystem::path file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream stream(file, std::ios::binary);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file.string();
}

std::string read_file(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream contents;
  contents << stream.rdbuf();
  return contents.str();
}

std::filesystem::path corpus_dir() {
  std::filesystem::path dir = std::filesystem::path(TARNWICK_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (!std::filesystem::is_directory(dir)) return {};
  return std::filesystem::canonical(dir);
}

}  // namespace tarnwick::testing
