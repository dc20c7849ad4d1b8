// Every real file of the shared corpus, cut short at several points, is an error for `contents`
// and `diff --contents`, never a report of what was left. `inspect` is held to the same for the
// tensor formats; CatBoost and LightGBM summaries read what they can by design.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

bool is_model_file(const fs::path& path) {
  std::string name = path.filename().string();
  return name != "LICENSE" && name != "README.md" && path.extension() != ".json";
}

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Where to cut: near the start, through the middle, and just before the end. The last cut
// keeps every byte but the last one that matters: a text model without its final line end is
// still whole (LightGBM itself writes some that way).
std::set<std::size_t> cut_points(const std::string& bytes) {
  std::size_t size = bytes.size();
  std::size_t meaningful = size;
  while (meaningful > 0 && std::isspace(static_cast<unsigned char>(bytes[meaningful - 1]))) --meaningful;
  std::set<std::size_t> cuts{1, 7, size / 4, size / 2, 3 * size / 4, meaningful - 1};
  std::erase_if(cuts, [&](std::size_t cut) { return cut == 0 || cut >= meaningful; });
  return cuts;
}

bool summaries_read_what_they_can(const fs::path& path) {
  std::string extension = path.extension().string();
  return extension == ".cbm" || extension == ".txt";
}

TEST(TruncatedCorpus, EveryCutFileIsAnError) {
  TARNWICK_REQUIRE_CORPUS("");
  testing::TempDir work;
  std::size_t runs = 0, files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || !is_model_file(entry.path())) continue;
    ++files;
    std::string bytes = read_bytes(entry.path());
    std::string name = entry.path().filename().string();
    for (std::size_t cut : cut_points(bytes)) {
      std::string path = work.write(name, bytes.substr(0, cut));
      std::vector<std::vector<std::string>> commands{{"contents", path}, {"diff", "--contents", path, path}};
      if (!summaries_read_what_they_can(entry.path())) commands.push_back({"inspect", path});
      for (const auto& args : commands) {
        testing::CommandRun run = testing::run_command(args);
        ++runs;
        EXPECT_EQ(run.status, 1) << args.front() << " of " << entry.path() << " cut to " << cut << " of "
                                 << bytes.size() << " bytes\n" << run.out.substr(0, 300);
        EXPECT_TRUE(run.err.starts_with("error: ")) << run.err.substr(0, 300);
      }
      fs::remove(path);
    }
  }
  EXPECT_GT(files, 150u);
  EXPECT_GT(runs, 6 * files);
}

}  // namespace
}  // namespace tarnwick
