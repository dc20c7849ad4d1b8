// Which brace-delimited spans a walk over a byte range takes, string-aware, in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace tarnwick {

// One past the brace that closes the '{' at `open`, scanning from there; nothing when the bytes
// end first. Inside a string a backslash escapes the next byte and braces do not count.
std::optional<std::size_t> match_brace_at(std::string_view bytes, std::size_t open);

// The walk: from the start, at each '{' whose scan (as match_brace_at) closes, the span up to
// there is taken and the walk goes on after it; a '{' whose scan reaches the end is passed over.
// `visit` gets the spans in order, except that back-to-back `{}` spans come joined as one span
// (every span that starts with "{}" is such a run).
//
// Scanning from each '{' separately costs the rest of the bytes per unclosed brace, so all
// braces that may still be taken are followed at once. Scans that reach a byte in the same
// string state (outside, inside, just after a backslash) go on alike and differ only in depth,
// so they are kept in at most three groups. A scan started later at the same or a greater depth
// than an earlier one in its group can never be taken (the earlier one closes first and the walk
// passes over it), so a group is a stack whose depths fall as positions rise: a '}' closes at
// most its top, and a closed span drops every later scan and span. Groups meet only when
// a backslash's group rejoins another; merging the tops costs at most two visits per scan.
// Steps (bytes looked at plus scans moved) are added to `steps` when given; they stay linear.
void for_each_brace_span(std::string_view bytes, const std::function<void(std::size_t start, std::size_t end)>& visit,
                         std::uint64_t* steps = nullptr);

}  // namespace tarnwick
