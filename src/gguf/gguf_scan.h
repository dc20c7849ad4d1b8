// `scan` of GGUF files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/file_scan.h"

namespace tarnwick::scan {

void scan_gguf(const ScanInput& input, FileScan& scan);

// The constructs of a chat template that reach Python's internals from a Jinja sandbox escape
// (`__globals__`, `os.`, `popen`, ...), each named once, in the order of the list.
std::vector<std::string_view> template_escape_constructs(std::string_view chat_template);

}  // namespace tarnwick::scan
