#include "cbm/brace_matcher.h"

#include <gtest/gtest.h>

#include <random>

#include "cbm/cbm_summary.h"

namespace tarnwick {
namespace {

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
      ASSERT_EQ(matches.end_of_rank(rank++), match_brace_at(bytes, i)) << bytes << " from " << from;
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
