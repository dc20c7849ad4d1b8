#include "cli/command_help.h"

#include <gtest/gtest.h>

#include <set>

#include "../onnx/proto_builder.h"
#include "cli/command_table.h"
#include "cli/usage_text.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

std::vector<std::string_view> words_of(const CommandEntry& entry) {
  std::vector<std::string_view> words{entry.word};
  words.insert(words.end(), entry.aliases.begin(), entry.aliases.end());
  return words;
}

TEST(CommandHelp, GeneralHelpIsTheHelpTextThenMoreCommands) {
  testing::CommandRun run = run_command({"help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(run.out.starts_with(kHelpText));
  EXPECT_TRUE(run.out.substr(kHelpText.size()).starts_with("\nMore commands:\n"));
  testing::expect_golden(run.out, "main/help.txt");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"--help"}, {"help", "more", "words"}, {"--help", "inspect"}, {"-h", "scan"}, {"help", "Scan"}}) {
    EXPECT_EQ(run_command(args).out, run.out) << (args.empty() ? "" : args.front());
  }
  // Every usage line that the help text's own sections leave out is in the added section.
  for (const CommandEntry& entry : command_table()) {
    for (const UsageLine& line : entry.usage) {
      if (line.more) {
        EXPECT_NE(run.out.find("\n  " + std::string(line.text) + "\n"), std::string::npos) << line.text;
      }
    }
  }
}

// Every command word and alias answers --help, -h and `help <word>` with its own page.
TEST(CommandHelp, EveryCommandInTheTableAnswersHelp) {
  std::set<std::string> pages;
  std::string all;
  for (const CommandEntry& entry : command_table()) {
    const std::string page = command_help(entry);
    EXPECT_TRUE(page.starts_with("tarnwick " + std::string(entry.word) + "\n")) << page;
    EXPECT_NE(page.find("\nExample:\n  tarnwick "), std::string::npos) << entry.word;
    EXPECT_FALSE(entry.usage.empty()) << entry.word;
    EXPECT_TRUE(pages.insert(page).second) << "two commands share a help page: " << entry.word;
    for (std::string_view word : words_of(entry)) {
      for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
               {std::string(word), "--help"}, {std::string(word), "-h"}, {"help", std::string(word)},
               {std::string(word), "some/path.onnx", "--help"}}) {
        testing::CommandRun run = run_command(args);
        EXPECT_EQ(run.status, 0) << word << " " << args[1];
        EXPECT_EQ(run.err, "") << word << " " << args[1];
        EXPECT_EQ(run.out, page) << word << " " << args[1];
      }
    }
    all += "==> tarnwick " + std::string(entry.word) + " --help\n" + page;
  }
  testing::expect_golden(all, "main/command-help.txt");
}

TEST(CommandHelp, HelpWordsThatAreValuesOrOperandsAreNotHelp) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"bench", "--iters", "--help"}, "error: parse --iters: invalid digit found in string\n"},
      {{"check", "--max-size-growth", "-h", "a.cbm", "b.cbm"}, "error: parse percentage `-h`: invalid float literal\n"},
      {{"inspect", "--limit", "--help", "a.onnx"}, "error: parse --limit: invalid digit found in string\n"},
      {{"scan", "--", "--help"}, "error: read --help: No such file or directory\n"},
      {{"version", "--help=1"}, "error: usage: tarnwick version\n"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_NE(run.status, 0) << c.args.front();
    EXPECT_EQ(run.out, "") << c.args.front();
    EXPECT_EQ(run.err, c.err) << c.args.front();
  }
}

// `--name=value` is the same as `--name value` for every option that takes a value; the value
// of an option is never split, and a flag keeps its text.
TEST(CommandHelp, NameEqualsValueSplitsOnlyOptionsThatTakeAValue) {
  const CommandEntry& scan = *find_command("scan");
  const CommandEntry& check = *find_command("check");
  struct Case {
    const CommandEntry& entry;
    Args in, out;
  };
  const Case cases[] = {
      {check, {"--max-size-growth=20%", "a", "b"}, {"--max-size-growth", "20%", "a", "b"}},
      {check, {"--json=1", "--max-ops-growth=", "a"}, {"--json=1", "--max-ops-growth", "", "a"}},
      {check, {"--max-size-growth", "--max-ops-growth=5", "a"}, {"--max-size-growth", "--max-ops-growth=5", "a"}},
      {*find_command("profile"), {"--dim=batch=8", "--limit=3", "m"}, {"--dim", "batch=8", "--limit", "3", "m"}},
      {scan, {"--fail-on=framework", "--", "--allow=x.y"}, {"--fail-on", "framework", "--", "--allow=x.y"}},
      {scan, {"-r=1", "--unknown=2", "--recursive=3"}, {"-r=1", "--unknown=2", "--recursive=3"}},
      {*find_command("convert"), {"m.pkl", "--out=a=b"}, {"m.pkl", "--out", "a=b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(with_values_split(c.entry, c.in), c.out) << c.in.front();
}

TEST(CommandHelp, NameEqualsValueGivesTheSameReport) {
  using testing::Message;
  using testing::node;
  TempDir dir;
  Message graph;
  graph.add_message(1, node("Relu", "r", {"x"}, {"y"})).add_message(1, node("Gemm", "g", {"y"}, {"z"}));
  std::string path = dir.write("m.onnx", testing::model(graph));
  struct Case {
    std::vector<std::string> joined, separate;
  };
  const Case cases[] = {
      {{"inspect", "--limit=1", path}, {"inspect", "--limit", "1", path}},
      {{"onnx", path, "--limit=+0"}, {"onnx", path, "--limit", "+0"}},
      {{"check", "--max-size-growth=0%", path, path}, {"check", "--max-size-growth", "0%", path, path}},
      {{"profile", "--limit=1", path}, {"profile", "--limit", "1", path}},
      {{"contents", "--limit=x", path}, {"contents", "--limit", "x", path}},
      {{"bench", "--iters=0", "plan.json"}, {"bench", "--iters", "0", "plan.json"}},
  };
  for (const Case& c : cases) {
    testing::CommandRun joined = run_command(c.joined), separate = run_command(c.separate);
    EXPECT_EQ(joined.status, separate.status) << c.joined[1];
    EXPECT_EQ(joined.out, separate.out) << c.joined[1];
    EXPECT_EQ(joined.err, separate.err) << c.joined[1];
    EXPECT_FALSE(joined.out.empty() && joined.err.empty()) << c.joined[1];
  }
}

}  // namespace
}  // namespace tarnwick
