#include "base/word_list.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/json_output.h"
#include "base/json_text.h"
#include "base/text.h"

namespace tarnwick {
namespace {

std::vector<std::string> as_strings(const std::vector<std::string_view>& views) {
  return std::vector<std::string>(views.begin(), views.end());
}

TEST(WordList, SplitsAsSplitWhitespaceDoes) {
  const std::string texts[] = {
      "",
      "   \t\n ",
      "age income  city",
      "  lead and trail  ",
      "no-break\xC2\xA0space ideographic\xE3\x80\x80space em\xE2\x80\x83space",
      "line\xE2\x80\xA8sep next\xC2\x85line",
      "lone\x85" "byte \xFF\xFE invalid",
      "one",
  };
  for (const std::string& text : texts) {
    WordList words = WordList::split(text);
    std::vector<std::string> expected = as_strings(split_whitespace(text));
    EXPECT_EQ(words.strings(), expected) << text;
    EXPECT_EQ(words.size(), expected.size()) << text;
    EXPECT_EQ(words.empty(), expected.empty()) << text;
  }
  EXPECT_EQ(WordList::split("a b"), WordList::split(" a\tb\n"));
  EXPECT_NE(WordList::split("a b"), WordList::split("ab"));
  EXPECT_NE(WordList::split("a b"), WordList::split("a b c"));
}

std::string printed(const OrderedJson& document) {
  std::ostringstream out;
  EXPECT_TRUE(print_json_document(out, document).is_ok());
  return out.str();
}

TEST(WordList, PrintsAsAnArrayOfStringsWhereverItSits) {
  OrderedJson record;
  record["none"] = ordered_word_array(WordList());
  record["names"] = ordered_word_array(WordList::split("a\x01 \"q\" \xFF"));
  record["after"] = 1;
  const std::string expected =
      "{\n"
      "  \"none\": [],\n"
      "  \"names\": [\n"
      "    \"a\\u0001\",\n"
      "    \"\\\"q\\\"\",\n"
      "    \"\xEF\xBF\xBD\"\n"
      "  ],\n"
      "  \"after\": 1\n"
      "}\n";
  EXPECT_EQ(printed(record), expected);
  // A record converted into a sorted value tree keeps the list.
  std::ostringstream sorted;
  ASSERT_TRUE(print_json_document(sorted, Json(record)).is_ok());
  EXPECT_EQ(sorted.str(),
            "{\n  \"after\": 1,\n  \"names\": [\n    \"a\\u0001\",\n    \"\\\"q\\\"\",\n    \"\xEF\xBF\xBD\"\n  ],\n"
            "  \"none\": []\n}\n");
  EXPECT_EQ(pretty_json_text(record) + "\n", expected);
}

// Counts what reaches the stream and the largest piece handed over at once.
class PieceCounter : public std::streambuf {
 public:
  std::size_t total = 0, largest = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize count) override {
    total += static_cast<std::size_t>(count);
    largest = std::max(largest, static_cast<std::size_t>(count));
    return count;
  }
  int overflow(int c) override {
    if (c != EOF) ++total;
    return c;
  }
};

TEST(WordList, LongListsReachTheStreamInPieces) {
  std::string names;
  for (int i = 0; i < 200000; ++i) names += "f ";
  OrderedJson record;
  record["feature_names"] = ordered_word_array(WordList::split(names));
  PieceCounter counter;
  std::ostream out(&counter);
  ASSERT_TRUE(print_json_document(out, record).is_ok());
  EXPECT_EQ(counter.total, pretty_json_text(record).size() + 1);
  EXPECT_GT(counter.total, 1'800'000u);
  EXPECT_LT(counter.largest, 70'000u) << "the document is never held whole";
}

}  // namespace
}  // namespace tarnwick
