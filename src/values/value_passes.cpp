#include "values/value_passes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "base/parallel.h"
#include "values/tensor_values.h"

namespace tarnwick {

namespace {

// Elements per span: large enough that taking a span costs nothing, small enough that two
// threads share even a file of one big tensor.
constexpr std::uint64_t kSpanElements = 1u << 22;
static_assert(kSpanElements % kChunkElements == 0);

struct Span {
  std::size_t item = 0;
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

std::vector<Span> spans_of(const std::vector<std::uint64_t>& sizes) {
  std::vector<Span> spans;
  for (std::size_t item = 0; item < sizes.size(); ++item) {
    for (std::uint64_t first = 0; first < sizes[item]; first += kSpanElements) {
      spans.push_back({item, first, std::min(kSpanElements, sizes[item] - first)});
    }
  }
  return spans;
}

// Runs `work(span, figures)` for every span on this thread and one more, then joins each item's
// span figures in span order.
template <class Figures, class Work>
std::vector<Figures> run_spans(std::size_t items, const std::vector<Span>& spans, Work work) {
  std::vector<Figures> per_span(spans.size());
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i = next++; i < spans.size(); i = next++) work(spans[i], per_span[i]);
  };
  std::uint64_t elements = 0;
  for (const Span& span : spans) elements += span.count;
  if (elements < kSpanElements) {
    worker();
  } else {
    ParallelTask helper(worker);
    worker();
    helper.join();
  }
  std::vector<Figures> joined(items);
  for (std::size_t i = 0; i < spans.size(); ++i) joined[spans[i].item].merge(per_span[i]);
  return joined;
}

}  // namespace

std::vector<StatsOutcome> tensor_statistics(const TensorTable& table) {
  MappedFiles files;
  std::vector<StatsOutcome> outcomes(table.tensors.size());
  std::vector<TensorValues> readable;
  std::vector<std::size_t> readable_index;
  std::vector<std::uint64_t> sizes;
  for (std::size_t i = 0; i < table.tensors.size(); ++i) {
    Result<TensorValues> values = TensorValues::open(table.tensors[i], files);
    if (!values.is_ok()) {
      outcomes[i].skipped = values.message();
      continue;
    }
    sizes.push_back(values.value().numel());
    readable.push_back(values.take());
    readable_index.push_back(i);
  }
  std::vector<ValueStats> figures = run_spans<ValueStats>(readable.size(), spans_of(sizes), [&](const Span& span, ValueStats& stats) {
    std::vector<double> double_buffer(kChunkElements);
    std::vector<float> float_buffer(kChunkElements);
    for (std::uint64_t done = 0; done < span.count; done += kChunkElements) {
      const std::uint64_t count = std::min(kChunkElements, span.count - done);
      ShiftedSums sums;
      sums.shift = stats.finite != 0 ? stats.mean : NAN;
      sums.low = stats.min;  // a block kernel looks no further at blocks that cannot pass these
      sums.high = stats.max;
      if (readable[span.item].block_sums(span.first + done, count, sums)) {
        stats.add(sums);
        continue;
      }
      ValueCodec::Run run = readable[span.item].read_run(span.first + done, count, float_buffer.data(), double_buffer.data());
      if (run.floats != nullptr) {
        stats.add(run.floats, count);
      } else {
        stats.add(run.doubles, count);
      }
    }
  });
  for (std::size_t i = 0; i < readable.size(); ++i) outcomes[readable_index[i]].figures = figures[i];
  return outcomes;
}

std::vector<DeltaOutcome> tensor_deltas(const std::vector<TensorPair>& pairs) {
  MappedFiles files;
  std::vector<DeltaOutcome> outcomes(pairs.size());
  std::vector<std::pair<TensorValues, TensorValues>> readable;
  std::vector<std::size_t> readable_index;
  std::vector<std::uint64_t> sizes;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    Result<TensorValues> old_values = TensorValues::open(*pairs[i].first, files);
    Result<TensorValues> new_values = TensorValues::open(*pairs[i].second, files);
    if (!old_values.is_ok() || !new_values.is_ok()) {
      std::string reason;
      if (!old_values.is_ok()) reason = "old: " + old_values.message();
      if (!new_values.is_ok()) reason += (reason.empty() ? "new: " : "; new: ") + new_values.message();
      outcomes[i].skipped = reason;
      continue;
    }
    sizes.push_back(old_values.value().numel());
    readable.emplace_back(old_values.take(), new_values.take());
    readable_index.push_back(i);
  }
  std::vector<ValueDelta> figures = run_spans<ValueDelta>(readable.size(), spans_of(sizes), [&](const Span& span, ValueDelta& delta) {
    std::vector<double> old_buffer(kChunkElements), new_buffer(kChunkElements);
    std::vector<float> scratch(kChunkElements);
    for (std::uint64_t done = 0; done < span.count; done += kChunkElements) {
      const std::uint64_t count = std::min(kChunkElements, span.count - done);
      readable[span.item].first.read(span.first + done, count, old_buffer.data(), scratch.data());
      readable[span.item].second.read(span.first + done, count, new_buffer.data(), scratch.data());
      delta.add(old_buffer.data(), new_buffer.data(), count);
    }
  });
  for (std::size_t i = 0; i < readable.size(); ++i) outcomes[readable_index[i]].figures = figures[i];
  return outcomes;
}

StatsTotals total_statistics(const std::vector<StatsOutcome>& outcomes) {
  StatsTotals totals;
  for (const StatsOutcome& outcome : outcomes) {
    if (!outcome.figures) {
      ++totals.skipped;
      continue;
    }
    ++totals.tensors;
    totals.values.merge(*outcome.figures);
  }
  return totals;
}

}  // namespace tarnwick
