// Read-only file access for the readers.
#pragma once

#include <string>

#include "main/status.h"

namespace tarnwick {

// The whole file in memory; fails with "read {path}: {os error}".
Result<std::string> read_whole_file(const std::string& path);
// At most `limit` bytes from the start of the file with one read; empty on any failure.
std::string read_file_prefix(const std::string& path, std::size_t limit, bool single_read);
std::string os_error_text(int error_number);

}  // namespace tarnwick
