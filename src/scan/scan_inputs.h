// What `scan` is asked to read: files, directories walked with -r, and `-` for standard input.
// Everything is checked before the first file is scanned, so a path that cannot be read is an
// error of the whole command (exit status 2), never a file's verdict.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace tarnwick::scan {

// The exit status of a usage error or of a path that could not be read.
inline constexpr int kCannotCheck = 2;

struct ScanTarget {
  std::string path;                      // as named, or found under a named directory; "-" for standard input
  std::optional<std::string> contents;  // standard input's bytes, read whole
};

// `operands` in the order given, each directory replaced by the files under it in sorted order.
// Fails with exit status 2: a directory without `recursive`, a path that cannot be opened for
// reading, a named pipe, `-` named twice, or standard input longer than `stream_limit`.
Result<std::vector<ScanTarget>> collect_targets(const std::vector<std::string>& operands, bool recursive,
                                                std::istream& in, std::uint64_t stream_limit);

// The whole stream, failing past `limit` bytes ("read -: more than N MiB from standard input").
Result<std::string> read_bounded(std::istream& in, std::uint64_t limit);

}  // namespace tarnwick::scan
