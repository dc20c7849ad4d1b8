#include "cbm/brace_matcher.h"

#include <array>
#include <map>
#include <optional>

namespace tarnwick {

namespace {

enum State : int { kOutside = 0, kInString = 1, kEscaped = 2 };

// Scans in one string state. A scan's depth is `counter - base`; scans are keyed by base, so
// the shallowest scans (the next to close) have the largest key.
struct Group {
  std::int64_t counter = 0;
  std::map<std::int64_t, std::vector<std::size_t>> scans_by_base;  // values: brace ranks
};

State next_state(State state, char c) {
  switch (state) {
    case kOutside: return c == '"' ? kInString : kOutside;
    case kInString: return c == '\\' ? kEscaped : (c == '"' ? kOutside : kInString);
    case kEscaped: return kInString;
  }
  return state;
}

// Moves every scan of `from` into `into`, re-basing the smaller set (small-to-large merging).
void merge(Group& into, Group& from) {
  if (from.scans_by_base.size() > into.scans_by_base.size()) std::swap(into, from);
  std::int64_t offset = into.counter - from.counter;
  for (auto& [base, ranks] : from.scans_by_base) {
    std::vector<std::size_t>& target = into.scans_by_base[base + offset];
    target.insert(target.end(), ranks.begin(), ranks.end());
  }
  from.scans_by_base.clear();
}

// Applies a byte seen outside a string: '{' deepens every scan, '}' closes the depth-1 scans.
void apply_outside(Group& group, char c, std::size_t position, std::vector<std::uint64_t>& ends) {
  if (c == '{') {
    ++group.counter;
  } else if (c == '}') {
    auto shallowest = group.scans_by_base.empty() ? group.scans_by_base.end()
                                                  : std::prev(group.scans_by_base.end());
    if (shallowest != group.scans_by_base.end() && shallowest->first == group.counter - 1) {
      for (std::size_t rank : shallowest->second) ends[rank] = position + 1;
      group.scans_by_base.erase(shallowest);
    }
    --group.counter;
  }
}

}  // namespace

std::vector<std::uint64_t> match_all_braces(std::string_view bytes, std::size_t from) {
  std::size_t braces = 0;
  for (std::size_t p = from; p < bytes.size(); ++p) braces += bytes[p] == '{';
  std::vector<std::uint64_t> ends(braces, kUnmatched);

  std::array<std::optional<Group>, 3> groups;  // indexed by string state
  std::size_t rank = 0;
  for (std::size_t p = from; p < bytes.size(); ++p) {
    char c = bytes[p];
    if (c == '{') {
      // A scan starting here is outside a string with depth 0 before this byte.
      if (!groups[kOutside]) groups[kOutside].emplace();
      groups[kOutside]->scans_by_base[groups[kOutside]->counter].push_back(rank++);
    }
    std::array<std::optional<Group>, 3> next;
    for (int state = 0; state < 3; ++state) {
      if (!groups[state] || groups[state]->scans_by_base.empty()) continue;
      Group& group = *groups[state];
      if (state == kOutside) apply_outside(group, c, p, ends);
      State after = next_state(static_cast<State>(state), c);
      if (group.scans_by_base.empty()) continue;
      if (next[after]) {
        merge(*next[after], group);
      } else {
        next[after] = std::move(group);
      }
    }
    groups = std::move(next);
  }
  return ends;
}

}  // namespace tarnwick
