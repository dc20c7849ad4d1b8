#include "containers/zip_directory.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "base/decode_budget.h"
#include "base/little_endian.h"
#include "base/text.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kEocdSearchBytes = 65557;  // 22-byte record plus the longest comment
constexpr std::uint32_t kZip32Max = 0xFFFFFFFF;

struct DirectoryLocation {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The 20-byte ZIP64 locator just before the EOCD record at `record_position`. Behind a comment
// of maximal length it lies before the searched tail, so it is read from the file then.
Result<std::string> zip64_locator(const PositionedFile& file, std::string_view tail, std::uint64_t tail_start,
                                  std::uint64_t record_position) {
  if (record_position - tail_start >= 20) {
    return std::string(tail.substr(static_cast<std::size_t>(record_position - tail_start) - 20, 20));
  }
  return file.read_at(record_position - 20, 20);
}

// Directory size and offset from the ZIP64 record, when a locator points at one.
Status apply_zip64_record(const PositionedFile& file, std::string_view locator, DirectoryLocation& location) {
  if (!locator.starts_with("PK\x06\x07")) return Status::ok();
  Result<std::string> record = file.read_at(little_endian(locator, 8, 8), 56);
  if (!record.is_ok()) return record.error();
  if (record.value().starts_with("PK\x06\x06")) {
    location.size = little_endian(record.value(), 40, 8);
    location.offset = little_endian(record.value(), 48, 8);
  }
  return Status::ok();
}

// The end-of-central-directory record, searched backwards from the end of the tail; a hit
// too close to the end to hold its fields (under the loader's rule, its whole record) is passed
// over.
Result<DirectoryLocation> locate_directory(const PositionedFile& file, const std::string& path, ZipDirectoryRule rule) {
  const std::size_t needed = rule == ZipDirectoryRule::kLoader ? 22 : 20;
  std::uint64_t tail_length = std::min<std::uint64_t>(file.size(), kEocdSearchBytes);
  std::uint64_t tail_start = file.size() - tail_length;
  Result<std::string> tail_read = file.read_at(tail_start, tail_length);
  if (!tail_read.is_ok()) return tail_read.error();
  std::string_view tail = tail_read.value();
  for (std::size_t at = tail.size() < 4 ? std::string_view::npos : tail.size() - 4; at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : at - 1) {
    if (tail.substr(at, 4) != "PK\x05\x06" || at + needed > tail.size()) continue;
    DirectoryLocation location{little_endian(tail, at + 16, 4), little_endian(tail, at + 12, 4)};
    bool needs_zip64 =
        rule == ZipDirectoryRule::kLoader || location.offset == kZip32Max || location.size == kZip32Max;
    std::uint64_t record_position = tail_start + at;
    if (!needs_zip64 || record_position < 20) return location;
    Result<std::string> locator = zip64_locator(file, tail, tail_start, record_position);
    if (!locator.is_ok()) return locator.error();
    Status applied = apply_zip64_record(file, locator.value(), location);
    if (!applied.is_ok()) return applied.error();
    return location;
  }
  return fail(path + ": no zip EOCD record");
}

// Replaces 0xFFFFFFFF sizes and offsets from the ZIP64 extra record (header id 1).
void apply_zip64_extra(std::string_view extra, std::uint64_t compressed_size, ZipEntry& entry) {
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    std::uint64_t id = little_endian(extra, at, 2), size = little_endian(extra, at + 2, 2);
    std::string_view data = extra.substr(at + 4, std::min<std::size_t>(size, extra.size() - at - 4));
    at += 4 + size;
    if (id != 1) continue;
    std::size_t cursor = 0;
    auto take = [&](std::uint64_t& value) {
      if (cursor + 8 <= data.size()) value = little_endian(data, cursor, 8);
      cursor += 8;
    };
    if (entry.uncompressed_size == kZip32Max) take(entry.uncompressed_size);
    if (compressed_size == kZip32Max) take(entry.compressed_size);
    if (entry.local_header_offset == kZip32Max) take(entry.local_header_offset);
    return;
  }
}

// The entry at `at`, or nothing when its fixed part, name or extra field does not fit in D.
std::optional<ZipEntry> parse_entry(std::string_view directory, std::size_t at) {
  if (directory.size() < 46 || at > directory.size() - 46 || directory.substr(at, 4) != "PK\x01\x02") {
    return std::nullopt;
  }
  std::uint64_t compressed = little_endian(directory, at + 20, 4);
  std::size_t name_length = little_endian(directory, at + 28, 2), extra_length = little_endian(directory, at + 30, 2),
              comment_length = little_endian(directory, at + 32, 2);
  if (46 + name_length + extra_length > directory.size() - at) return std::nullopt;
  ZipEntry entry;
  entry.method = static_cast<std::uint16_t>(little_endian(directory, at + 10, 2));
  entry.compressed_size = compressed;
  entry.crc32 = static_cast<std::uint32_t>(little_endian(directory, at + 16, 4));
  entry.uncompressed_size = little_endian(directory, at + 24, 4);
  entry.local_header_offset = little_endian(directory, at + 42, 4);
  entry.name = decode_utf8_lossy(directory.substr(at + 46, name_length));
  entry.total_length = 46 + name_length + extra_length + comment_length;
  if (entry.uncompressed_size == kZip32Max || entry.local_header_offset == kZip32Max) {
    apply_zip64_extra(directory.substr(at + 46 + name_length, extra_length), compressed, entry);
  }
  return entry;
}

}  // namespace

Result<std::uint64_t> zip_data_position(const PositionedFile& file, std::uint64_t local_header_offset) {
  Result<std::string> header = file.read_at(local_header_offset, 30);
  if (!header.is_ok()) return header.error();
  if (!header.value().starts_with("PK\x03\x04")) return fail("bad local header");
  return local_header_offset + 30 + little_endian(header.value(), 26, 2) + little_endian(header.value(), 28, 2);
}

Result<std::vector<ZipEntry>> read_zip_directory(const PositionedFile& file, const std::string& path,
                                                 ZipDirectoryRule rule) {
  Result<DirectoryLocation> location = locate_directory(file, path, rule);
  if (!location.is_ok()) return location.error();
  Result<std::string> directory = file.read_at(location.value().offset, location.value().size);
  if (!directory.is_ok()) return directory.error();
  DecodeBudget budget(directory.value().size());
  std::vector<ZipEntry> entries;
  std::size_t at = 0;
  while (std::optional<ZipEntry> entry = parse_entry(directory.value(), at)) {
    Status drawn = budget.draw(1, "zip directory entries");
    if (!drawn.is_ok()) return fail(path + ": " + drawn.message());
    at += entry->total_length;
    entries.push_back(std::move(*entry));
  }
  return entries;
}

}  // namespace tarnwick
