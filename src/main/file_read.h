// Read-only file access for the readers.
#pragma once

#include <string>

#include "main/status.h"

namespace tarnwick {

// The whole file in memory; fails with "read {path}: {os error}".
Result<std::string> read_whole_file(const std::string& path);
// The first `limit` bytes of the file (fewer when it is shorter), read in one bounded loop; empty
// on any failure. A pipe cannot be read twice, so what this takes from one is kept and handed
// to the next read_whole_file of the same path.
std::string read_file_head(const std::string& path, std::size_t limit);
std::string os_error_text(int error_number);

}  // namespace tarnwick
