// The formats tarnwick reads, and the one detector that decides which of them a file is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "descriptor/format_descriptor.h"

namespace tarnwick {

// Every format, in the order their content tests are tried: formats registered at run time
// first, then the built-in list.
std::vector<const FormatDescriptor*> registered_formats();

// Adds a format ahead of the built-in ones for as long as it lives (tests and tools that bring
// their own format).
class ScopedFormatRegistration {
 public:
  explicit ScopedFormatRegistration(const FormatDescriptor& format);
  ~ScopedFormatRegistration();
  ScopedFormatRegistration(const ScopedFormatRegistration&) = delete;
  ScopedFormatRegistration& operator=(const ScopedFormatRegistration&) = delete;

 private:
  const FormatDescriptor* format_;
};

// The format of `path`, decided the way the loaders decide: the first format whose content test
// claims the bytes, else the format of the longest matching extension, else null (unknown).
// Never fails; a path that cannot be read is classified by its extension alone.
const FormatDescriptor* detect_format(const std::string& path);
// The format of bytes already in memory that have no name (standard input): content tests only,
// the bytes standing for a regular file of their size.
const FormatDescriptor* detect_format_of_bytes(std::string_view bytes);
// The display name, or "unknown" for null.
std::string_view kind_name(const FormatDescriptor* format);

}  // namespace tarnwick
