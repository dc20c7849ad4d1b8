// The central directory of a zip archive, read by position: names, methods, sizes and where
// each entry's data starts. Shared by the PyTorch summary, the tensor table and the scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/positioned_file.h"

namespace tarnwick {

struct ZipEntry {
  std::string name;
  std::uint16_t method = 0;  // 0 stored, anything else compressed
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
  std::uint32_t crc32 = 0;  // of the uncompressed data
  std::size_t total_length = 0;  // fixed part, name, extra and comment
};

// How the end-of-central-directory record is found. The summary reader takes the last signature
// whose size and offset fields fit, and the ZIP64 record only when a 32-bit field is saturated.
// torch's loader (miniz) takes the last signature whose whole 22-byte record fits, and follows a
// ZIP64 locator wherever one stands before it.
enum class ZipDirectoryRule { kSummary, kLoader };

// Entries in directory order; the walk stops at the first record that is not a whole entry.
Result<std::vector<ZipEntry>> read_zip_directory(const PositionedFile& file, const std::string& path,
                                                 ZipDirectoryRule rule = ZipDirectoryRule::kSummary);
// Where an entry's data starts: past its local header, name and extra field.
Result<std::uint64_t> zip_data_position(const PositionedFile& file, std::uint64_t local_header_offset);

}  // namespace tarnwick
