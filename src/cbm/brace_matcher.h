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
// Scanning from each '{' separately costs the rest of the bytes per unclosed brace. Instead a
// pass from the end carries, for each string state, the lowest depth change a scan meets from
// there on: a scan opened at q closes exactly when that low, outside strings at q + 1, is below
// zero. Those braces get a bit each; the walk then follows only scans known to close, so every
// byte is looked at once from the end and at most once from the start, with no branch on what
// the bytes are. Steps (bytes looked at, plus bitmap words passed over) are added to `steps`
// when given.
void for_each_brace_span(std::string_view bytes, const std::function<void(std::size_t start, std::size_t end)>& visit,
                         std::uint64_t* steps = nullptr);

}  // namespace tarnwick
