// Where the brace at each '{' of a byte range is closed, string-aware, for every start at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::uint64_t kUnmatched = UINT64_MAX;

// For every '{' at or after `from`, in order, one past its closing brace as a scan started at
// that '{' finds it, or kUnmatched when the scan reaches the end of the bytes.
//
// Scanning from each '{' separately costs the rest of the file per unmatched brace, so a file
// of a million '{' would take hours. Scans started at different braces that reach a position
// in the same string state behave alike from there on, differing only in depth; they are kept
// in at most three groups (outside a string, inside one, just after a backslash) and advanced
// together, which makes the whole computation O(n log^2 n).
std::vector<std::uint64_t> match_all_braces(std::string_view bytes, std::size_t from);

}  // namespace tarnwick
