#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <regex>

#include "cli/command_help.h"
#include "cli/usage_text.h"
#include "cli/version_command.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;

TEST(Dispatch, HelpAndTourTexts) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"help"}, {"-h"}, {"--help"}, {"help", "more", "words"}, {"--help", "inspect"}}) {
    testing::CommandRun run = run_command(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, general_help());
    EXPECT_TRUE(run.out.starts_with(kHelpText));
    EXPECT_EQ(run.err, "");
  }
  testing::CommandRun tour = run_command({"tour", "extra", "words"});
  EXPECT_EQ(tour.status, 0);
  EXPECT_EQ(tour.out, kTourText);
  EXPECT_TRUE(kHelpText.starts_with("tarnwick - inspect ML model artifacts without loading the framework\n\n"));
  EXPECT_TRUE(kHelpText.ends_with("  tarnwick why examples/tiny_attention_plan.json\n"));
  EXPECT_NE(kHelpText.find("\n\ntarnwick check [--max-size-growth 20%]"), std::string_view::npos);
  EXPECT_NE(kTourText.find("tarnwick tour\n--------------\n"), std::string_view::npos);
}

TEST(Dispatch, UnknownWordsFailWithOneErrorLine) {
  for (const char* word : {"HELP", "Inspect", "insp", "--json"}) {
    testing::CommandRun run = run_command({word, "x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("error: unknown command `") + word + "`. Try `tarnwick help`.\n");
  }
}

TEST(Dispatch, VersionWordsPrintOneLine) {
  ASSERT_TRUE(std::regex_match(std::string(program_version()), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
  const std::string line = "tarnwick " + std::string(program_version()) + "\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {{"version"}, 0, line, ""},
           {{"--version"}, 0, line, ""},
           {{"version", "extra"}, 1, "", "error: usage: tarnwick version\n"},
           {{"--version", "--json"}, 1, "", "error: usage: tarnwick version\n"},
           {{"-v"}, 1, "", "error: unknown command `-v`. Try `tarnwick help`.\n"},
       }) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, c.status) << c.args.front();
    EXPECT_EQ(run.out, c.out) << c.args.front();
    EXPECT_EQ(run.err, c.err) << c.args.front();
  }
  EXPECT_EQ(kHelpText.find("version"), std::string_view::npos);
}

}  // namespace
}  // namespace tarnwick
