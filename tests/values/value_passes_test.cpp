// The two-thread pass over a table's values: figures joined span by span in order, so that
// they are the same bits whichever thread summed which span.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "test_support.h"
#include "values/value_codec.h"
#include "values/value_passes.h"

namespace tarnwick::testing {
namespace {

constexpr std::uint64_t kSpan = 1u << 22;  // the pass's span, in elements
constexpr std::uint64_t kChunk = 8192;     // and its chunk

std::vector<float> random_floats(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::normal_distribution<float> normal(0.5f, 2.0f);
  std::vector<float> values(count);
  for (float& value : values) value = normal(generator);
  return values;
}

// The figures summed on one thread, span by span and chunk by chunk, as the pass cuts them.
ValueStats sequential_stats(const std::vector<float>& values) {
  ValueStats total;
  for (std::uint64_t first = 0; first < values.size(); first += kSpan) {
    ValueStats span;
    const std::uint64_t end = std::min<std::uint64_t>(values.size(), first + kSpan);
    for (std::uint64_t at = first; at < end; at += kChunk) span.add(values.data() + at, std::min(kChunk, end - at));
    total.merge(span);
  }
  return total;
}

ValueDelta sequential_delta(const std::vector<float>& old_values, const std::vector<float>& new_values) {
  ValueDelta total;
  std::vector<double> a(kChunk), b(kChunk);
  for (std::uint64_t first = 0; first < old_values.size(); first += kSpan) {
    ValueDelta span;
    const std::uint64_t end = std::min<std::uint64_t>(old_values.size(), first + kSpan);
    for (std::uint64_t at = first; at < end; at += kChunk) {
      const std::uint64_t count = std::min(kChunk, end - at);
      for (std::uint64_t i = 0; i < count; ++i) {
        a[i] = old_values[at + i];
        b[i] = new_values[at + i];
      }
      span.add(a.data(), b.data(), count);
    }
    total.merge(span);
  }
  return total;
}

TensorEntry float_tensor(const std::string& file, const std::string& name, std::uint64_t offset, std::uint64_t numel) {
  TensorEntry entry;
  entry.name = name;
  entry.dtype = "float32";
  entry.shape = {numel};
  entry.numel = numel;
  entry.bytes = numel * 4;
  entry.data = TensorBytes{file, offset, numel * 4};
  return entry;
}

TEST(ValuePasses, FiguresDoNotDependOnWhichThreadSummedASpan) {
  TempDir dir;
  const std::vector<float> big = random_floats(3 * kSpan + 12345, 7), tuned = random_floats(3 * kSpan + 12345, 8);
  const std::vector<float> small = random_floats(1000, 9);
  std::string bytes(reinterpret_cast<const char*>(big.data()), big.size() * 4);
  bytes.append(reinterpret_cast<const char*>(small.data()), small.size() * 4);
  bytes.append(reinterpret_cast<const char*>(tuned.data()), tuned.size() * 4);
  std::string file = dir.write("values.bin", bytes);
  TensorTable table;
  table.tensors = {float_tensor(file, "big", 0, big.size()), float_tensor(file, "small", big.size() * 4, small.size()),
                   float_tensor(file, "tuned", (big.size() + small.size()) * 4, tuned.size())};

  for (int round = 0; round < 3; ++round) {
    std::vector<StatsOutcome> outcomes = tensor_statistics(table);
    for (const auto& [index, values] : {std::pair<std::size_t, const std::vector<float>*>{0, &big}, {1, &small}}) {
      ASSERT_TRUE(outcomes[index].figures) << outcomes[index].skipped;
      const ValueStats& got = *outcomes[index].figures;
      const ValueStats want = sequential_stats(*values);
      EXPECT_EQ(got.count, want.count);
      EXPECT_EQ(got.zeros, want.zeros);
      // Bit for bit: the same sums, joined in the same order.
      EXPECT_EQ(std::memcmp(&got.mean, &want.mean, sizeof(double)), 0) << got.mean << " " << want.mean;
      EXPECT_EQ(std::memcmp(&got.m2, &want.m2, sizeof(double)), 0) << got.m2 << " " << want.m2;
      EXPECT_EQ(got.min, want.min);
      EXPECT_EQ(got.max, want.max);
    }
    std::vector<DeltaOutcome> deltas = tensor_deltas({{&table.tensors[0], &table.tensors[2]}});
    ASSERT_TRUE(deltas[0].figures) << deltas[0].skipped;
    const ValueDelta want = sequential_delta(big, tuned);
    EXPECT_EQ(deltas[0].figures->pairs, want.pairs);
    EXPECT_EQ(deltas[0].figures->max_abs, want.max_abs);
    EXPECT_EQ(std::memcmp(&deltas[0].figures->sum_sq_diff, &want.sum_sq_diff, sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(&deltas[0].figures->dot, &want.dot, sizeof(double)), 0);
  }
}

}  // namespace
}  // namespace tarnwick::testing
