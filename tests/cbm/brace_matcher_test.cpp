#include "cbm/brace_matcher.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "cbm/cbm_summary.h"

namespace tarnwick {
namespace {

using Spans = std::vector<std::pair<std::size_t, std::size_t>>;

// The walk as its definition reads: one scan from each '{' it reaches, runs of `{}` joined.
Spans spans_by_one_scan_each(std::string_view bytes) {
  Spans spans;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != '{') {
      ++i;
      continue;
    }
    std::size_t run_end = i;
    while (run_end + 1 < bytes.size() && bytes[run_end] == '{' && bytes[run_end + 1] == '}') run_end += 2;
    if (run_end > i) {
      spans.emplace_back(i, run_end);
      i = run_end;
      continue;
    }
    std::optional<std::size_t> end = match_brace_at(bytes, i);
    if (!end) {
      ++i;
      continue;
    }
    spans.emplace_back(i, *end);
    i = *end;
  }
  return spans;
}

Spans spans_of_walk(std::string_view bytes, std::uint64_t* steps = nullptr) {
  Spans spans;
  for_each_brace_span(
      bytes, [&](std::size_t start, std::size_t end) { spans.emplace_back(start, end); }, steps);
  return spans;
}

TEST(BraceMatcher, WalkAgreesWithOneScanPerBraceOnRandomInput) {
  std::mt19937 random(12345);
  // Alphabets weighted towards opening braces (scans that stay open), quotes and backslashes
  // (string states that part and meet again), and closing braces (spans inside spans); the last
  // one mostly bytes that move nothing.
  const std::string alphabets[] = {
      "{{}\"\\a", "{{{}\"\\", "{}\"", "{}\\\"\"a", "{{}}\"\\\\", "{}ab", "{}\"\\abcdefghijklmnopqrstu"};
  for (int round = 0; round < 60000; ++round) {
    const std::string& alphabet = alphabets[round % std::size(alphabets)];
    std::string bytes(random() % 80, ' ');
    for (char& c : bytes) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(spans_of_walk(bytes), spans_by_one_scan_each(bytes)) << bytes;
  }
}

TEST(BraceMatcher, WalkAgreesOnLongerMixedInput) {
  std::mt19937 random(777);
  for (int round = 0; round < 80; ++round) {
    std::string bytes;
    while (bytes.size() < 3000) {
      switch (random() % 6) {
        case 0: bytes += std::string(random() % 40, '{'); break;
        case 1: bytes += "{\"a\":1}"; break;
        case 2: bytes += "\"\\\"{"; break;
        case 3: bytes += std::string(random() % 20, '}'); break;
        case 4: bytes += std::string(random() % 50, 'x'); break;
        default: bytes += "{}{}\"x\\"; break;
      }
    }
    ASSERT_EQ(spans_of_walk(bytes), spans_by_one_scan_each(bytes)) << bytes;
  }
}

TEST(BraceMatcher, WalkAgreesAcrossBlocksOfPlainBytes) {
  // Runs of bytes that move nothing are passed over sixteen and sixty-four at a time, also right
  // after a backslash inside a string and across the bitmap's word boundaries.
  std::mt19937 random(4242);
  const std::string pieces[] = {"{", "}", "\"", "\\", "{\"", "\"}", "{\"a\":\"\\\\\"}"};
  for (int round = 0; round < 4000; ++round) {
    std::string bytes;
    while (bytes.size() < 600) {
      if (random() % 3 == 0) {
        bytes += std::string(random() % 140, 'x');
      } else {
        bytes += pieces[random() % std::size(pieces)];
      }
    }
    ASSERT_EQ(spans_of_walk(bytes), spans_by_one_scan_each(bytes)) << bytes;
  }
}

TEST(BraceMatcher, StepsStayLinearOnHostileBodies) {
  // Shapes where one scan per brace is quadratic, string states part and meet at every few
  // bytes, or spans nest deeply.
  const std::string patterns[] = {"{",         "{\"\\\"",   "{\"{",        "{\"{\"\\\"", "{a{{\\\"}",
                                  "{\"{\\\"}", "{}{\"}{\\", "{{{{}}}}\"{", "\"{\\\"{\"}"};
  std::mt19937 random(99);
  std::string noise;
  const char alphabet[] = {'{', '}', '"', '\\', 'a', 'b', ' '};
  while (noise.size() < 200000) noise.push_back(alphabet[random() % sizeof alphabet]);
  std::vector<std::string> bodies;
  for (const std::string& pattern : patterns) {
    std::string body;
    while (body.size() < 200000) body += pattern;
    bodies.push_back(body);
  }
  bodies.push_back(noise);
  for (const std::string& body : bodies) {
    std::uint64_t steps = 0;
    spans_of_walk(body, &steps);
    // Every byte once from the end, at most once from the start, and the bitmap words passed over.
    EXPECT_LE(steps, 2 * body.size() + body.size() / 64 + 1) << body.substr(0, 12);
  }
}

TEST(BraceMatcher, MillionsOfUnclosedBracesStayLinear) {
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
