#include "cbm/brace_matcher.h"

#include <array>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "cbm/varint_stack.h"

namespace tarnwick {

namespace {

enum State : int { kOutside = 0, kInString = 1, kEscaped = 2 };

// The bytes that open or close a scan or move one between string states.
constexpr auto kMoves = [] {
  std::array<bool, 256> moves{};
  for (unsigned char c : {'{', '}', '"', '\\'}) moves[c] = true;
  return moves;
}();

// The first byte at or after `p` that moves a scan, or `n`. Sixteen bytes are looked at a time
// without a branch per byte: in noise the next such byte is a byte or two away at random.
std::size_t next_move(const char* data, std::size_t p, std::size_t n) {
#ifdef __SSE2__
  for (; p + 16 <= n; p += 16) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
    __m128i braces = _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('{')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('}')));
    __m128i strings =
        _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\')));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(braces, strings)));
    if (mask != 0) return p + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  while (p < n && !kMoves[static_cast<unsigned char>(data[p])]) ++p;
  return p;
}

using Pair = IncreasingPairStack::Pair;

// Open scans in one string state, each as (position of its '{', base): its depth is
// `counter - base`. Positions and bases rise towards the top, so depths fall.
struct Group {
  IncreasingPairStack scans;
  std::int64_t counter = 0;
};

class SpanWalk {
 public:
  SpanWalk(std::string_view bytes, const std::function<void(std::size_t, std::size_t)>& visit)
      : bytes_(bytes), visit_(visit) {}

  std::uint64_t run() {
    std::size_t p = 0;
    const std::size_t n = bytes_.size();
    while (p < n) {
      // Nothing is open: the next '{' starts a scan.
      const void* brace = std::memchr(bytes_.data() + p, '{', n - p);
      if (brace == nullptr) {
        steps_ += n - p;
        break;
      }
      std::size_t open = static_cast<const char*>(brace) - bytes_.data();
      steps_ += open - p;
      // `{}` closes where it opens, so a run of them is taken without following it.
      p = end_of_empty_objects(open);
      steps_ += p - open;
      if (p > open) {
        deliver(open, p);
        pending_end_ = released_end_ = p;
        continue;
      }
      group(kOutside).counter = 0;
      p = follow(open_braces(p));
      steps_ += p - open;
    }
    // Every scan still open reached the end and is passed over: the pending spans are taken.
    release_pending();
    release_run();
    return steps_;
  }

 private:
  Group& group(State state) { return groups_[at_[state]]; }

  // A scan for the '{' at `p` and for each '{' right after it; returns the end of the run.
  [[gnu::always_inline]] std::size_t open_braces(std::size_t p) {
    Group& outside = group(kOutside);
    open_ = true;
    if (p + 1 == bytes_.size() || bytes_[p + 1] != '{') {
      outside.scans.push({static_cast<std::int64_t>(p), outside.counter++});
      return p + 1;
    }
    std::size_t run_end = end_of_open_braces(p + 1);
    outside.scans.push_steps_of_one({static_cast<std::int64_t>(p), outside.counter}, run_end - p);
    outside.counter += static_cast<std::int64_t>(run_end - p);
    return run_end;
  }

  // Follows the bytes from `p` while some scan is open; returns where it stopped. Quotes and
  // backslashes only move groups between states, which is done without branching on them:
  // bytes of noise are as unpredictable as they come.
  // The state lives in locals here and is written back around the calls that use it.
  std::size_t follow(std::size_t p) {
    const char* const data = bytes_.data();
    const std::size_t n = bytes_.size();
    int o = at_[kOutside], i = at_[kInString], e = at_[kEscaped];
    bool escaped_open = escaped_open_;
    auto save = [&] { at_[kOutside] = o, at_[kInString] = i, at_[kEscaped] = e; };
    auto load = [&] { o = at_[kOutside], i = at_[kInString], e = at_[kEscaped]; };
    bool open = true;
    while (open && p < n) {
      if (!escaped_open) {  // other bytes change nothing then
        p = next_move(data, p, n);
        if (p == n) break;
      }
      char c = data[p];
      // After a backslash, any byte but another brings the escaped group back into the string.
      bool rejoin = escaped_open && c != '\\';
      if (c == '{') {
        save();
        p = open_braces(p);
      } else {
        Group& outside = groups_[o];
        outside.counter -= c == '}';
        bool closes = (c == '}') & !outside.scans.empty() & (outside.scans.top().b == outside.counter);
        if (closes) {
          save();
          close(static_cast<std::size_t>(outside.scans.pop().a), p + 1);
          open = open_;
        }
        bool quote = c == '"', backslash = c == '\\';
        int old_o = o, old_i = i, old_e = e;
        o = quote ? old_i : old_o;
        i = quote ? old_o : (backslash ? old_e : old_i);
        e = backslash ? old_i : old_e;
        ++p;
      }
      if (rejoin) {
        if (groups_[i].scans.empty()) {  // most often: the escaped scans just go back
          std::swap(i, e);
        } else {
          save();
          merge(kInString, kEscaped);
          load();
        }
      }
      escaped_open = c == '\\' && !groups_[e].scans.empty();
    }
    save();
    escaped_open_ = escaped_open;
    return p;
  }

  std::size_t end_of_empty_objects(std::size_t p) const {
    constexpr std::uint64_t kFourPairs = 0x7D7B7D7B7D7B7D7BULL;  // "{}{}{}{}" read little-endian
    for (std::uint64_t word; p + 8 <= bytes_.size(); p += 8) {
      std::memcpy(&word, bytes_.data() + p, 8);
      if (word != kFourPairs) break;
    }
    while (p + 1 < bytes_.size() && bytes_[p] == '{' && bytes_[p + 1] == '}') p += 2;
    return p;
  }

  std::size_t end_of_open_braces(std::size_t p) const {
    constexpr std::uint64_t kEightBraces = 0x7B7B7B7B7B7B7B7BULL;
    for (std::uint64_t word; p + 8 <= bytes_.size(); p += 8) {
      std::memcpy(&word, bytes_.data() + p, 8);
      if (word != kEightBraces) break;
    }
    while (p < bytes_.size() && bytes_[p] == '{') ++p;
    return p;
  }

  // Joins `from` into `into`, keeping the scans that can still be taken. Only the parts of both
  // stacks later than the bottom of one of them are taken apart.
  void merge(State into_state, State from_state) {
    Group& into = group(into_state);
    Group& from = group(from_state);
    if (into.scans.empty()) {
      std::swap(at_[into_state], at_[from_state]);
      return;
    }
    merged_.clear();  // (-position, depth), latest scan first
    while (!into.scans.empty() && !from.scans.empty()) {
      bool into_later = into.scans.top().a > from.scans.top().a;
      Group& later = into_later ? into : from;
      Group& other = into_later ? from : into;
      Pair scan = later.scans.pop();
      ++steps_;
      std::int64_t depth = later.counter - scan.b;
      // Every earlier scan is at least as deep as the top of its own stack.
      if (depth < other.counter - other.scans.top().b) merged_.push({-scan.a, depth});
    }
    Group& rest = into.scans.empty() ? from : into;
    while (!merged_.empty()) {
      Pair scan = merged_.pop();
      rest.scans.push({-scan.a, rest.counter - scan.b});
      ++steps_;
    }
    if (&rest != &into) std::swap(at_[into_state], at_[from_state]);
    group(from_state).scans.clear();
  }

  // The scan from `open` closes just before `end`: every later scan and pending span is dropped,
  // as the walk would step over them.
  void close(std::size_t open, std::size_t end) {
    auto position = static_cast<std::int64_t>(open);
    for (State state : {kInString, kEscaped}) {
      IncreasingPairStack& scans = group(state).scans;
      for (; !scans.empty() && scans.top().a > position; ++steps_) scans.pop();
    }
    for (; pending_count_ > 0 && pending_last_start_ > open; ++steps_) {
      pending_.pop();  // the length
      pending_end_ = pending_last_start_ - pending_.pop();
      if (--pending_count_ > 0) pending_last_start_ = pending_end_ - pending_.last();
    }
    add_pending(open, end);
    open_ = !(groups_[0].scans.empty() && groups_[1].scans.empty() && groups_[2].scans.empty());
    if (!open_) release_pending();
  }

  // Spans taken only if every earlier open scan reaches the end, as (gap, length) varints.
  void add_pending(std::size_t start, std::size_t end) {
    bool pair = end == start + 2;
    // When the last span is a run of `{}` ending here, a pair extends it.
    if (pair && pending_count_ > 0 && pending_end_ == start && bytes_[pending_last_start_ + 1] == '}') {
      pending_.push(pending_.pop() + 2);
      pending_end_ = end;
      return;
    }
    pending_.push(start - pending_end_);
    pending_.push(end - start);
    pending_end_ = end;
    pending_last_start_ = start;
    ++pending_count_;
  }

  void release_pending() {
    std::size_t cursor = 0, end = released_end_;
    for (std::size_t k = 0; k < pending_count_; ++k) {
      std::size_t start = end + pending_.read(cursor);
      end = start + pending_.read(cursor);
      deliver(start, end);
    }
    pending_.clear();
    pending_count_ = 0;
    released_end_ = pending_end_;
  }

  // Hands spans over in order, joining back-to-back runs of `{}`.
  void deliver(std::size_t start, std::size_t end) {
    bool run = bytes_[start + 1] == '}';
    if (run && holding_run_ && run_end_ == start) {
      run_end_ = end;
      return;
    }
    release_run();
    if (run) {
      holding_run_ = true;
      run_start_ = start;
      run_end_ = end;
    } else {
      visit_(start, end);
    }
  }

  void release_run() {
    if (holding_run_) visit_(run_start_, run_end_);
    holding_run_ = false;
  }

  std::string_view bytes_;
  const std::function<void(std::size_t, std::size_t)>& visit_;
  Group groups_[3];
  int at_[3] = {0, 1, 2};      // the group of each string state
  bool open_ = false;          // some group holds a scan
  bool escaped_open_ = false;  // the escaped group holds a scan
  IncreasingPairStack merged_;
  VarintStack pending_;
  std::size_t pending_count_ = 0;
  std::size_t pending_end_ = 0;         // end of the last pending span, or of the last released one
  std::size_t pending_last_start_ = 0;  // start of the last pending span, when there is one
  std::size_t released_end_ = 0;        // end of the last released span
  bool holding_run_ = false;
  std::size_t run_start_ = 0, run_end_ = 0;
  std::uint64_t steps_ = 0;
};

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

void for_each_brace_span(std::string_view bytes, const std::function<void(std::size_t start, std::size_t end)>& visit,
                         std::uint64_t* steps) {
  std::uint64_t taken = SpanWalk(bytes, visit).run();
  if (steps != nullptr) *steps += taken;
}

}  // namespace tarnwick
