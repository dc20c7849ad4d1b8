// Shared value renderings of every text report: sizes, counts, deltas, fingerprints, reals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

// Incremental 64-bit FNV-1a, for fingerprints fed from several byte ranges.
class Fnv1a64 {
 public:
  void update(std::string_view bytes) {
    for (unsigned char byte : bytes) {
      hash_ ^= byte;
      hash_ *= kFnvPrime;
    }
  }
  std::uint64_t digest() const { return hash_; }
  // Feeds the same bytes to two hashes in one loop: the two chains are independent, so they
  // run side by side for about the cost of one.
  static void update_both(Fnv1a64& first, Fnv1a64& second, std::string_view bytes) {
    std::uint64_t a = first.hash_, b = second.hash_;
    for (unsigned char byte : bytes) {
      a = (a ^ byte) * kFnvPrime;
      b = (b ^ byte) * kFnvPrime;
    }
    first.hash_ = a;
    second.hash_ = b;
  }

 private:
  std::uint64_t hash_ = kFnvOffsetBasis;
};

std::uint64_t fnv1a64(std::string_view bytes);

std::string format_fingerprint(std::uint64_t fingerprint);
std::string format_bytes(std::uint64_t bytes);
std::string format_count_short(std::uint64_t count);
std::string format_delta(std::uint64_t old_value, std::uint64_t new_value);
std::string format_max_depth(std::int64_t depth);
std::string format_real(double value);
// Not-a-number and the infinities read the same in every rendering: "NaN", "inf", "-inf".
std::string format_non_finite(double value);
std::string format_optional_count(std::optional<std::uint64_t> count);
std::string format_percent_change(std::uint64_t old_value, std::uint64_t new_value);

// A real to `digits` significant digits ("{:.Ng}"), non-finite values as format_non_finite.
std::string format_significant(double value, int digits);

// Fixed decimals, rounding the exact double half to even: "{:.N}".
std::string format_fixed(double value, int decimals);
// format_fixed's text appended to `text`, with no string made per value.
void append_fixed(std::string& text, double value, int decimals);
// Fixed decimals with the sign always shown: "{:+.N}".
std::string format_signed_fixed(double value, int decimals);

std::string optional_text_or_unknown(const std::optional<std::string>& text);

// Optional values rendered for print_field: absent stays absent.
std::optional<std::string> optional_count_text(std::optional<std::uint64_t> count);
std::optional<std::string> optional_fixed_text(std::optional<double> value, int decimals);
std::optional<std::string> optional_real_text(std::optional<double> value);

}  // namespace tarnwick
