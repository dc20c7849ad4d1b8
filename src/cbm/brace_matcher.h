// Where the brace at each '{' of a byte range is closed, string-aware, for every start at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnwick {

// One past the brace that closes the '{' at `open`, scanning from there; nothing when the bytes
// end first. Inside a string a backslash escapes the next byte and braces do not count.
std::optional<std::size_t> match_brace_at(std::string_view bytes, std::size_t open);

// For every '{' at or after `from`, in order, one past the brace that closes it as a scan
// started at that '{' finds it, or nothing when such a scan reaches the end of the bytes.
//
// Scanning from each '{' separately costs the rest of the file per unclosed brace, so a file
// of a million '{' would take hours. Scans started at different braces that reach a position
// in the same string state behave alike from there on and differ only in depth; they are kept
// in at most three groups (outside a string, inside one, just after a backslash) and advanced
// together. Within a group, scans opened by consecutive braces form runs, so a file that is
// nothing but '{' needs one run.
class BraceMatches {
 public:
  BraceMatches(std::string_view bytes, std::size_t from);
  // The end for the brace of the given rank (0 for the first '{' at or after `from`).
  std::optional<std::size_t> end_of_rank(std::size_t rank) const;

 private:
  std::size_t from_;
  // Distance from `from_` to the end, plus one; 0 means unclosed. 32 bits when the bytes allow.
  std::vector<std::uint32_t> narrow_;
  std::vector<std::uint64_t> wide_;
  bool use_wide_ = false;
};

}  // namespace tarnwick
