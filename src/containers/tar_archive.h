// Tar archives as Python's tarfile reads them (torch's oldest checkpoint format, and any .tar):
// the members in archive order, each with where its data lies. Nothing is extracted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct TarMember {
  std::string name;  // GNU long names and PAX "path" records applied
  char type = '0';   // '0' (or NUL) a regular file, '5' a directory, ...
  std::uint64_t data_offset = 0;
  std::uint64_t size = 0;
  bool regular() const { return type == '0' || type == '\0' || type == '7'; }
};

struct TarListing {
  std::vector<TarMember> members;
  bool truncated = false;  // a member's data runs past the end of the bytes
};

// Whether the bytes open as a tar archive for tarfile: a first 512-byte header whose checksum
// holds. torch.load tries this on every file that is not a zip.
bool is_tar_archive(std::string_view bytes);

// The members up to the end-of-archive block or the first header that does not hold (where
// tarfile stops as well).
TarListing list_tar_members(std::string_view bytes);

}  // namespace tarnwick
