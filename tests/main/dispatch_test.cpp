#include "main/dispatch.h"

#include <gtest/gtest.h>

#include "main/usage_text.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;

TEST(Dispatch, HelpAndTourTexts) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"help"}, {"-h"}, {"--help"}, {"help", "more", "words"}, {"--help", "inspect"}}) {
    testing::CommandRun run = run_command(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kHelpText);
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

}  // namespace
}  // namespace tarnwick
