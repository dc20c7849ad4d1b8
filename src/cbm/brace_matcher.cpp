#include "cbm/brace_matcher.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarnwick {

namespace {

// A scan is outside strings, inside one, or just after a backslash inside one. Braces count only
// outside; a backslash outside strings is an ordinary byte.
enum State : int { kOutside = 0, kInString = 1, kEscaped = 2 };

// The moves of the string state held in one register: the state s as 18 * s, the byte's class c
// (other, quote, backslash; braces move nothing) as 6 * c, and the next state in the six bits at
// 18 * s + 6 * c. A step is then an add, a shift and a mask, with no branch on the byte.
constexpr int kStateStride = 18;
constexpr int kClassStride = 6;

constexpr std::uint64_t kMoveTable = [] {
  constexpr int kNext[3][3] = {
      {kOutside, kInString, kOutside},  // outside: a quote opens a string
      {kInString, kOutside, kEscaped},  // in a string: a quote closes it, a backslash escapes
      {kInString, kInString, kInString},  // escaped: any byte is taken as it is
  };
  std::uint64_t table = 0;
  for (int state = 0; state < 3; ++state) {
    for (int byte_class = 0; byte_class < 3; ++byte_class) {
      int offset = state * kStateStride + byte_class * kClassStride;
      table |= static_cast<std::uint64_t>(kNext[state][byte_class] * kStateStride) << offset;
    }
  }
  return table;
}();

constexpr auto kMoveClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  classes['"'] = 1 * kClassStride;
  classes['\\'] = 2 * kClassStride;
  return classes;
}();

constexpr auto kDepthSteps = [] {
  std::array<std::int8_t, 256> steps{};
  steps['{'] = 1;
  steps['}'] = -1;
  return steps;
}();

// Whether the 16 bytes at `data` hold a brace, quote or backslash.
bool has_move(const char* data) {
#ifdef __SSE2__
  __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  __m128i braces = _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('{')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('}')));
  __m128i strings = _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\')));
  return _mm_movemask_epi8(_mm_or_si128(braces, strings)) != 0;
#else
  return std::any_of(data, data + 16, [](char c) { return c == '{' || c == '}' || c == '"' || c == '\\'; });
#endif
}

// What a byte does to the lows carried from the end: masks of all ones for a quote and for a
// backslash, and the depth step of a brace (which only counts outside strings).
struct ByteMoves {
  std::int64_t quote = 0, backslash = 0, step = 0;
};

constexpr auto kByteMoves = [] {
  std::array<ByteMoves, 256> moves{};
  moves['"'].quote = -1;
  moves['\\'].backslash = -1;
  moves['{'].step = 1;
  moves['}'].step = -1;
  return moves;
}();

// `if_set` where `mask` is not zero, else `otherwise`, without a branch: compilers turn such
// choices into branches, and in noise quotes and backslashes come at random.
[[gnu::always_inline]] inline std::int64_t choose(std::int64_t mask, std::int64_t if_set, std::int64_t otherwise) {
#if defined(__x86_64__)
  asm("test %1, %1\n\tcmovne %2, %0" : "+r"(otherwise) : "r"(mask), "r"(if_set) : "cc");
  return otherwise;
#else
  return otherwise ^ ((otherwise ^ if_set) & mask);
#endif
}

// The lowest depth change (at most 0) that a scan meets from some position on, for each state it
// may be in there, carried from the end of the bytes towards the start.
struct LowestChange {
  std::int64_t outside = 0, in_string = 0, escaped = 0;

  // One byte earlier: the lows of the states the byte leads to, plus its own step.
  [[gnu::always_inline]] void step_back(unsigned char byte) {
    const ByteMoves& moves = kByteMoves[byte];
    std::int64_t after = choose(moves.quote, in_string, outside);
    std::int64_t next_in_string = choose(moves.quote, outside, choose(moves.backslash, escaped, in_string));
    escaped = in_string;
    in_string = next_in_string;
    std::int64_t low = after + moves.step;
    outside = low < 0 ? low : 0;
  }

  bool outside_below_zero() const { return outside < 0; }

  // A run of bytes that move nothing: an escaped byte among them ends the escape.
  void skip_plain_bytes() { escaped = in_string; }
};

#if defined(__x86_64__)
#define TARNWICK_SSE41 __attribute__((target("sse4.1")))

// The same lows as 32-bit lanes (outside, in string, escaped, unused) of one register: a byte is
// then one shuffle, one add and one min, whatever it is. Lows never fall below minus the length,
// so this serves bodies under 2 GiB.
struct alignas(16) LaneMoves {
  std::uint8_t shuffle[16];
  std::int32_t step[4];
};

constexpr LaneMoves lane_moves(int outside_from, int in_string_from, int escaped_from, std::int32_t step) {
  LaneMoves moves{};
  const int from[4] = {outside_from, in_string_from, escaped_from, 3};
  for (int lane = 0; lane < 4; ++lane) {
    for (int k = 0; k < 4; ++k) moves.shuffle[lane * 4 + k] = static_cast<std::uint8_t>(from[lane] * 4 + k);
  }
  moves.step[0] = step;
  return moves;
}

const auto kLaneMoves = [] {
  std::array<LaneMoves, 256> moves{};
  moves.fill(lane_moves(kOutside, kInString, kInString, 0));
  moves['"'] = lane_moves(kInString, kOutside, kInString, 0);
  moves['\\'] = lane_moves(kOutside, kEscaped, kInString, 0);
  moves['{'] = lane_moves(kOutside, kInString, kInString, 1);
  moves['}'] = lane_moves(kOutside, kInString, kInString, -1);
  return moves;
}();

struct LowestChangeLanes {
  __m128i lows = _mm_setzero_si128();

  TARNWICK_SSE41 void step_back(unsigned char byte) {
    const LaneMoves& moves = kLaneMoves[byte];
    __m128i moved = _mm_shuffle_epi8(lows, _mm_load_si128(reinterpret_cast<const __m128i*>(moves.shuffle)));
    moved = _mm_add_epi32(moved, _mm_load_si128(reinterpret_cast<const __m128i*>(moves.step)));
    lows = _mm_min_epi32(moved, _mm_setzero_si128());
  }

  TARNWICK_SSE41 bool outside_below_zero() const { return (_mm_movemask_ps(_mm_castsi128_ps(lows)) & 1) != 0; }

  TARNWICK_SSE41 void skip_plain_bytes() { lows = _mm_shuffle_epi32(lows, _MM_SHUFFLE(3, 1, 1, 0)); }
};
#endif

// One bit per '{' among the 64 bytes at `data`.
std::uint64_t open_brace_mask(const char* data) {
#ifdef __SSE2__
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * k));
    auto found = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('{'))));
    mask |= static_cast<std::uint64_t>(found) << (16 * k);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int k = 0; k < 64; ++k) mask |= static_cast<std::uint64_t>(data[k] == '{') << k;
  return mask;
#endif
}

// One bit per byte: set at each '{' whose scan closes. From the end, a scan opened at q closes
// exactly when the depth change it meets from q + 1 on, outside strings, falls below zero.
template <typename Lows>
std::vector<std::uint64_t> closing_braces_with(std::string_view bytes, Lows low) {
  const std::size_t n = bytes.size();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::vector<std::uint64_t> bits((n + 63) / 64);
  for (std::size_t word = bits.size(); word-- > 0;) {
    std::size_t begin = word * 64;
    std::size_t end = std::min(begin + 64, n);
    const char* block = bytes.data() + begin;
    bool whole = end - begin == 64;
    if (whole && !has_move(block) && !has_move(block + 16) && !has_move(block + 32) && !has_move(block + 48)) {
      low.skip_plain_bytes();
      continue;
    }
    // The sign of the outside low before each byte, lowest byte in the lowest bit.
    std::uint64_t below_zero = 0;
    for (std::size_t q = end; q-- > begin;) {
      below_zero = (below_zero << 1) | static_cast<std::uint64_t>(low.outside_below_zero());
      low.step_back(data[q]);
    }
    std::uint64_t opens = 0;
    if (whole) {
      opens = open_brace_mask(block);
    } else {
      for (std::size_t q = begin; q < end; ++q) opens |= static_cast<std::uint64_t>(data[q] == '{') << (q - begin);
    }
    bits[word] = below_zero & opens;
  }
  return bits;
}

#if defined(__x86_64__)
// Flattened, so the lanes' steps are inlined into a loop built for them.
TARNWICK_SSE41 __attribute__((flatten)) std::vector<std::uint64_t> closing_braces_in_lanes(std::string_view bytes) {
  return closing_braces_with(bytes, LowestChangeLanes{});
}
#endif

std::vector<std::uint64_t> closing_braces(std::string_view bytes) {
#if defined(__x86_64__)
  constexpr std::size_t kLanesHoldUpTo = std::size_t{1} << 31;
  if (bytes.size() < kLanesHoldUpTo && __builtin_cpu_supports("sse4.1")) return closing_braces_in_lanes(bytes);
#endif
  return closing_braces_with(bytes, LowestChange{});
}

// The first set bit at or after `p`, or `n`.
std::size_t next_closing_brace(const std::vector<std::uint64_t>& bits, std::size_t p, std::size_t n,
                               std::uint64_t& steps) {
  std::size_t word = p / 64;
  if (word >= bits.size()) return n;
  std::uint64_t current = bits[word] & (~std::uint64_t{0} << (p % 64));
  while (current == 0) {
    ++steps;
    if (++word == bits.size()) return n;
    current = bits[word];
  }
  return word * 64 + static_cast<std::size_t>(std::countr_zero(current));
}

// One past the '}' that closes the scan opened at `open`, which is known to close.
std::size_t close_of(std::string_view bytes, std::size_t open, std::uint64_t& steps) {
  const std::size_t n = bytes.size();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::uint64_t state = kOutside;
  std::int64_t depth = 1;
  std::size_t q = open + 1;
  while (q < n) {
    if (q + 16 <= n && !has_move(bytes.data() + q)) {
      if (state == kEscaped * kStateStride) state = kInString * kStateStride;
      q += 16;
      continue;
    }
    std::size_t block_end = std::min(q + 16, n);
    for (; q < block_end; ++q) {
      unsigned char byte = data[q];
      depth += kDepthSteps[byte] & -static_cast<std::int64_t>(state == kOutside);
      state = (kMoveTable >> (state + kMoveClasses[byte])) & 63;
      if (depth == 0) {
        steps += q + 1 - open;
        return q + 1;
      }
    }
  }
  steps += n - open;
  return n;  // not reached: the bit said this scan closes
}

std::size_t end_of_empty_objects(std::string_view bytes, std::size_t p) {
  constexpr std::uint64_t kFourPairs = 0x7D7B7D7B7D7B7D7BULL;  // "{}{}{}{}" read little-endian
  for (std::uint64_t word; p + 8 <= bytes.size(); p += 8) {
    std::memcpy(&word, bytes.data() + p, 8);
    if (word != kFourPairs) break;
  }
  while (p + 1 < bytes.size() && bytes[p] == '{' && bytes[p + 1] == '}') p += 2;
  return p;
}

// Hands spans over in order, joining back-to-back runs of `{}`.
class SpanDelivery {
 public:
  explicit SpanDelivery(const std::function<void(std::size_t, std::size_t)>& visit) : visit_(visit) {}

  void run_of_empty_objects(std::size_t start, std::size_t end) {
    if (holding_run_ && run_end_ == start) {
      run_end_ = end;
      return;
    }
    release();
    holding_run_ = true;
    run_start_ = start;
    run_end_ = end;
  }

  void object(std::size_t start, std::size_t end) {
    release();
    visit_(start, end);
  }

  void release() {
    if (holding_run_) visit_(run_start_, run_end_);
    holding_run_ = false;
  }

 private:
  const std::function<void(std::size_t, std::size_t)>& visit_;
  bool holding_run_ = false;
  std::size_t run_start_ = 0, run_end_ = 0;
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
  const std::size_t n = bytes.size();
  std::uint64_t taken = n;  // the pass from the end looks at every byte once
  std::vector<std::uint64_t> closing = closing_braces(bytes);
  SpanDelivery delivery(visit);
  for (std::size_t p = next_closing_brace(closing, 0, n, taken); p < n; p = next_closing_brace(closing, p, n, taken)) {
    std::size_t open = p;
    if (bytes[open + 1] == '}') {  // a closing '{' has a byte after it
      p = end_of_empty_objects(bytes, open);
      taken += p - open;
      delivery.run_of_empty_objects(open, p);
    } else {
      p = close_of(bytes, open, taken);
      delivery.object(open, p);
    }
  }
  delivery.release();
  if (steps != nullptr) *steps += taken;
}

}  // namespace tarnwick
