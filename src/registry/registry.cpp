#include "registry/registry.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "base/file_read.h"
#include "registry/format_list.h"

namespace tarnwick {

namespace {

struct Registrations {
  std::mutex mutex;
  std::vector<const FormatDescriptor*> formats;
};

Registrations& registrations() {
  static Registrations instance;
  return instance;
}

ContentProbe probe_path(const std::string& path, std::string& head) {
  ContentProbe probe;
  probe.path = path;
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  probe.directory = !error && std::filesystem::is_directory(status);
  probe.regular_file = !error && std::filesystem::is_regular_file(status);
  if (probe.regular_file) {
    std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error) probe.size = size;
  }
  if (!probe.directory) head = read_file_head(path, kProbeBytes);
  probe.head = head;
  return probe;
}

const FormatDescriptor* format_claiming(const std::vector<const FormatDescriptor*>& formats,
                                        const ContentProbe& probe) {
  for (const FormatDescriptor* format : formats) {
    if (format->claims_content && format->claims_content(probe)) return format;
  }
  return nullptr;
}

const FormatDescriptor* format_by_extension(const std::vector<const FormatDescriptor*>& formats,
                                            const std::string& path) {
  const FormatDescriptor* best = nullptr;
  std::size_t best_length = 0;
  for (const FormatDescriptor* format : formats) {
    for (std::string_view extension : format->extensions) {
      if (extension.size() > best_length && path_has_extension(path, extension)) {
        best = format;
        best_length = extension.size();
      }
    }
  }
  return best;
}

}  // namespace

std::vector<const FormatDescriptor*> registered_formats() {
  std::vector<const FormatDescriptor*> formats;
  {
    Registrations& added = registrations();
    std::lock_guard lock(added.mutex);
    formats = added.formats;
  }
  std::span<const FormatDescriptor* const> built_in = built_in_formats();
  formats.insert(formats.end(), built_in.begin(), built_in.end());
  return formats;
}

ScopedFormatRegistration::ScopedFormatRegistration(const FormatDescriptor& format) : format_(&format) {
  Registrations& added = registrations();
  std::lock_guard lock(added.mutex);
  added.formats.insert(added.formats.begin(), format_);
}

ScopedFormatRegistration::~ScopedFormatRegistration() {
  Registrations& added = registrations();
  std::lock_guard lock(added.mutex);
  added.formats.erase(std::find(added.formats.begin(), added.formats.end(), format_));
}

const FormatDescriptor* detect_format(const std::string& path) {
  std::vector<const FormatDescriptor*> formats = registered_formats();
  std::string head;
  if (const FormatDescriptor* format = format_claiming(formats, probe_path(path, head))) return format;
  return format_by_extension(formats, path);
}

const FormatDescriptor* detect_format_of_bytes(std::string_view bytes) {
  ContentProbe probe;
  probe.head = bytes.substr(0, kProbeBytes);
  probe.size = bytes.size();
  probe.regular_file = true;
  return format_claiming(registered_formats(), probe);
}

std::string_view kind_name(const FormatDescriptor* format) { return format ? format->name : "unknown"; }

}  // namespace tarnwick
