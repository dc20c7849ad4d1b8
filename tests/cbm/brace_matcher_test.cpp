#include "cbm/brace_matcher.h"

#include <gtest/gtest.h>

#include <random>

#include "cbm/cbm_summary.h"

namespace tarnwick {
namespace {

// The definition: a separate scan from each brace.
std::optional<std::size_t> scan_from(std::string_view bytes, std::size_t open) {
  std::size_t depth = 0;
  bool in_string = false, escaped = false;
  for (std::size_t i = open; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (depth < 2) return i + 1;
      --depth;
    }
  }
  return std::nullopt;
}

TEST(BraceMatcher, AgreesWithOneScanPerBraceOnRandomInput) {
  std::mt19937 random(12345);
  const char alphabet[] = {'{', '{', '}', '"', '\\', 'a'};
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(random() % 60, ' ');
    for (char& c : bytes) c = alphabet[random() % sizeof alphabet];
    std::size_t from = bytes.empty() ? 0 : random() % bytes.size();
    BraceMatches matches(bytes, from);
    std::size_t rank = 0;
    for (std::size_t i = from; i < bytes.size(); ++i) {
      if (bytes[i] != '{') continue;
      ASSERT_EQ(matches.end_of_rank(rank++), scan_from(bytes, i)) << bytes << " from " << from;
    }
  }
}

TEST(BraceMatcher, MillionsOfUnclosedBracesStayLinear) {
  // One scan per brace would be quadratic here; these finish in well under a second.
  for (const std::string& pattern : {std::string("{"), std::string("{\"\\\""), std::string("{\"{")}) {
    std::string bytes = "CBM1";
    while (bytes.size() < 1000000) bytes += pattern;
    Result<CbmSummary> summary = summarize_cbm_bytes("deep.cbm", bytes);
    ASSERT_TRUE(summary.is_ok());
    EXPECT_EQ(summary.value().metadata_fingerprint, std::nullopt);
  }
}

}  // namespace
}  // namespace tarnwick
