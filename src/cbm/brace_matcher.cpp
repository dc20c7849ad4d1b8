#include "cbm/brace_matcher.h"

#include <algorithm>
#include <array>
#include <limits>

namespace tarnwick {

namespace {

enum State : int { kOutside = 0, kInString = 1, kEscaped = 2 };

State next_state(State state, char c) {
  switch (state) {
    case kOutside: return c == '"' ? kInString : kOutside;
    case kInString: return c == '\\' ? kEscaped : (c == '"' ? kOutside : kInString);
    case kEscaped: return kInString;
  }
  return state;
}

// Scans opened by consecutive braces at consecutive depths: bases last_base - count + 1 ..
// last_base with ranks last_rank - count + 1 .. last_rank.
struct Run {
  std::int64_t last_base;
  std::size_t last_rank;
  std::size_t count;
};

bool shallower_last(const Run& a, const Run& b) { return a.last_base < b.last_base; }

// Scans in one string state. A scan's depth is `counter - base`; the heap keeps the run whose
// shallowest scan is the shallowest of the group on top, as that one closes first.
struct Group {
  std::int64_t counter = 0;
  std::vector<Run> heap;

  void open(std::size_t rank) {
    if (!heap.empty() && heap.front().last_base == counter - 1 && heap.front().last_rank + 1 == rank) {
      ++heap.front().last_base;  // stays the largest key
      ++heap.front().last_rank;
      ++heap.front().count;
    } else {
      heap.push_back({counter, rank, 1});
      std::push_heap(heap.begin(), heap.end(), shallower_last);
    }
  }

  template <class Record>
  void close(Record record) {
    while (!heap.empty() && heap.front().last_base == counter - 1) {
      std::pop_heap(heap.begin(), heap.end(), shallower_last);
      Run& run = heap.back();
      record(run.last_rank);
      if (--run.count == 0) {
        heap.pop_back();
      } else {
        --run.last_base;
        --run.last_rank;
        std::push_heap(heap.begin(), heap.end(), shallower_last);
      }
    }
    --counter;
  }
};

// Moves every run of `from` into `into`, re-basing the smaller heap (small-to-large merging).
void merge(Group& into, Group& from) {
  if (from.heap.size() > into.heap.size()) std::swap(into, from);
  std::int64_t offset = into.counter - from.counter;
  for (Run run : from.heap) {
    run.last_base += offset;
    into.heap.push_back(run);
    std::push_heap(into.heap.begin(), into.heap.end(), shallower_last);
  }
  from.heap.clear();
}

}  // namespace

std::optional<std::size_t> match_brace_at(std::string_view bytes, std::size_t open) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = open; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
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

BraceMatches::BraceMatches(std::string_view bytes, std::size_t from) : from_(from) {
  std::size_t braces = 0;
  for (std::size_t p = from; p < bytes.size(); ++p) braces += bytes[p] == '{';
  use_wide_ = bytes.size() - from >= std::numeric_limits<std::uint32_t>::max();
  if (use_wide_) {
    wide_.assign(braces, 0);
  } else {
    narrow_.assign(braces, 0);
  }
  auto record_end = [&](std::size_t rank, std::size_t end) {
    if (use_wide_) {
      wide_[rank] = end - from_ + 1;
    } else {
      narrow_[rank] = static_cast<std::uint32_t>(end - from_ + 1);
    }
  };

  std::array<std::optional<Group>, 3> groups;  // indexed by string state
  std::size_t rank = 0;
  for (std::size_t p = from; p < bytes.size(); ++p) {
    char c = bytes[p];
    if (c == '{') {
      // A scan starting here is outside a string with depth 0 before this byte.
      if (!groups[kOutside]) groups[kOutside].emplace();
      groups[kOutside]->open(rank++);
    }
    std::array<std::optional<Group>, 3> next;
    for (int state = 0; state < 3; ++state) {
      if (!groups[state] || groups[state]->heap.empty()) continue;
      Group& group = *groups[state];
      if (state == kOutside && c == '{') ++group.counter;
      if (state == kOutside && c == '}') group.close([&](std::size_t closed) { record_end(closed, p + 1); });
      if (group.heap.empty()) continue;
      State after = next_state(static_cast<State>(state), c);
      if (next[after]) {
        merge(*next[after], group);
      } else {
        next[after] = std::move(group);
      }
    }
    groups = std::move(next);
  }
}

std::optional<std::size_t> BraceMatches::end_of_rank(std::size_t rank) const {
  std::uint64_t stored = use_wide_ ? wide_[rank] : narrow_[rank];
  if (stored == 0) return std::nullopt;
  return static_cast<std::size_t>(from_ + stored - 1);
}

}  // namespace tarnwick
