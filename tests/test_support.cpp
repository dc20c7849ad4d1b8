#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/dispatch.h"

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

std::string example(const char* name) { return std::string(TARNWICK_SOURCE_DIR) + "/examples/" + name; }

std::string floats(const std::vector<float>& values) {
  std::string bytes(values.size() * 4, '\0');
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* current = std::getenv(name)) saved_ = current;
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

void expect_golden(const std::string& actual, const std::string& name) {
  std::filesystem::path file = std::filesystem::path(TARNWICK_SOURCE_DIR) / "tests" / "golden" / name;
  const char* update = std::getenv("TARNWICK_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(std::filesystem::exists(file)) << "missing golden file " << file;
  EXPECT_EQ(actual, read_file(file.string())) << "output differs from " << file;
}

std::filesystem::path corpus_dir() {
  const char* chosen = std::getenv("TARNWICK_CORPUS");
  std::filesystem::path dir = chosen != nullptr ? std::filesystem::path(chosen)
                                                : std::filesystem::path(TARNWICK_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (!std::filesystem::is_directory(dir)) return {};
  return std::filesystem::canonical(dir);
}

std::string with_dir_placeholder(std::string text, const TempDir& dir) {
  const std::string prefix = dir.path().string();
  for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
    text.replace(at, prefix.size(), "<dir>");
  }
  return text;
}

}  // namespace tarnwick::testing
