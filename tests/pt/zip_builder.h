// Writes zip archives (stored entries unless an entry says otherwise) for the PyTorch tests, with optional ZIP64
// records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

inline std::string le(std::uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

struct ZipEntry {
  std::string name;
  std::string data;
  // A compressed entry: its method, CRC-32 and uncompressed size; the data is written as given.
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::optional<std::uint64_t> uncompressed_size = std::nullopt;
};

struct ZipOptions {
  bool zip64_entries = false;    // sizes and offsets as 0xFFFFFFFF with a ZIP64 extra record
  bool zip64_directory = false;  // EOCD fields as 0xFFFFFFFF with a ZIP64 record and locator
  std::string comment;
};

inline std::string build_zip(const std::vector<ZipEntry>& entries, const ZipOptions& options = {}) {
  std::string archive, directory;
  for (const ZipEntry& entry : entries) {
    std::uint64_t offset = archive.size();
    std::uint64_t full_size = entry.uncompressed_size.value_or(entry.data.size());
    archive += "PK\x03\x04" + le(20, 2) + le(0, 2) + le(entry.method, 2) + le(0, 4) + le(entry.crc32, 4) +
               le(entry.data.size(), 4) + le(full_size, 4) + le(entry.name.size(), 2) + le(3, 2) + entry.name + "pad" +
               entry.data;
    std::string extra;
    std::uint64_t size32 = entry.data.size(), full32 = full_size, offset32 = offset;
    if (options.zip64_entries) {
      extra = le(1, 2) + le(24, 2) + le(full_size, 8) + le(entry.data.size(), 8) + le(offset, 8);
      size32 = full32 = offset32 = 0xFFFFFFFF;
    }
    directory += "PK\x01\x02" + le(20, 2) + le(20, 2) + le(0, 2) + le(entry.method, 2) + le(0, 4) + le(entry.crc32, 4) +
                 le(size32, 4) + le(full32, 4) + le(entry.name.size(), 2) + le(extra.size(), 2) + le(0, 2) + le(0, 2) +
                 le(0, 2) + le(0, 4) + le(offset32, 4) + entry.name + extra;
  }
  std::uint64_t directory_offset = archive.size();
  archive += directory;
  std::uint64_t size_field = directory.size(), offset_field = directory_offset;
  if (options.zip64_directory) {
    std::uint64_t record_offset = archive.size();
    archive += "PK\x06\x06" + le(44, 8) + le(45, 2) + le(45, 2) + le(0, 4) + le(0, 4) + le(entries.size(), 8) +
               le(entries.size(), 8) + le(directory.size(), 8) + le(directory_offset, 8);
    archive += "PK\x06\x07" + le(0, 4) + le(record_offset, 8) + le(1, 4);
    size_field = offset_field = 0xFFFFFFFF;
  }
  archive += "PK\x05\x06" + le(0, 2) + le(0, 2) + le(entries.size(), 2) + le(entries.size(), 2) + le(size_field, 4) +
             le(offset_field, 4) + le(options.comment.size(), 2) + options.comment;
  return archive;
}

// A pickle fragment naming the parameters the way torch.save does, with storage class names.
inline std::string pickle_with_names(const std::vector<std::string>& names,
                                     const std::string& storage = "FloatStorage") {
  std::string pickle = "\x80\x02}q\x00(";
  for (const std::string& name : names) {
    pickle += "X" + le(name.size(), 4) + name + "ctorch\n" + storage + "\n";
  }
  return pickle + "u.";
}

}  // namespace tarnwick::testing
