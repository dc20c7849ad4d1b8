#include "containers/tar_archive.h"

#include <algorithm>
#include <optional>

namespace tarnwick {

namespace {

constexpr std::size_t kBlock = 512;

// tarfile's nti: octal digits ended by NUL or space, or base-256 when the first byte is 0x80
// (positive) or 0xff (negative, never a valid size here).
std::optional<std::uint64_t> number_field(std::string_view field) {
  if (!field.empty() && static_cast<std::uint8_t>(field[0]) == 0x80) {
    std::uint64_t value = 0;
    for (std::size_t i = 1; i < field.size(); ++i) {
      if (value >> 56) return std::nullopt;
      value = value << 8 | static_cast<std::uint8_t>(field[i]);
    }
    return value;
  }
  if (!field.empty() && static_cast<std::uint8_t>(field[0]) == 0xff) return std::nullopt;
  std::size_t end = field.find('\0');
  std::string_view digits = field.substr(0, end);
  while (!digits.empty() && (digits.front() == ' ')) digits.remove_prefix(1);
  while (!digits.empty() && (digits.back() == ' ')) digits.remove_suffix(1);
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '7' || (value >> 60)) return std::nullopt;
    value = value * 8 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// The checksum counts the header with its own field as spaces; tarfile takes the unsigned or
// the signed sum of the bytes.
bool checksum_holds(std::string_view header) {
  std::optional<std::uint64_t> stated = number_field(header.substr(148, 8));
  if (!stated) return false;
  std::int64_t unsigned_sum = 8 * ' ', signed_sum = 8 * ' ';
  for (std::size_t i = 0; i < kBlock; ++i) {
    if (i >= 148 && i < 156) continue;
    unsigned_sum += static_cast<std::uint8_t>(header[i]);
    signed_sum += static_cast<std::int8_t>(header[i]);
  }
  return static_cast<std::int64_t>(*stated) == unsigned_sum || static_cast<std::int64_t>(*stated) == signed_sum;
}

std::string c_string(std::string_view field) { return std::string(field.substr(0, field.find('\0'))); }

std::uint64_t padded(std::uint64_t size) { return (size + kBlock - 1) / kBlock * kBlock; }

// The "path" record of a PAX extended header ("%d path=...\n" records).
std::optional<std::string> pax_path(std::string_view records) {
  while (!records.empty()) {
    std::size_t space = records.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    std::uint64_t length = 0;
    for (char c : records.substr(0, space)) {
      if (c < '0' || c > '9' || length > records.size()) return std::nullopt;
      length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (length <= space || length > records.size()) return std::nullopt;
    std::string_view record = records.substr(space + 1, length - space - 1);
    if (record.ends_with('\n')) record.remove_suffix(1);
    if (record.starts_with("path=")) return std::string(record.substr(5));
    records.remove_prefix(length);
  }
  return std::nullopt;
}

}  // namespace

bool is_tar_archive(std::string_view bytes) {
  if (bytes.size() < kBlock) return false;
  std::string_view header = bytes.substr(0, kBlock);
  if (std::all_of(header.begin(), header.end(), [](char c) { return c == '\0'; })) return false;
  return checksum_holds(header);
}

TarListing list_tar_members(std::string_view bytes) {
  TarListing listing;
  std::uint64_t at = 0;
  std::optional<std::string> next_name;  // from a GNU long-name or PAX header before the member
  while (at + kBlock <= bytes.size()) {
    std::string_view header = bytes.substr(at, kBlock);
    if (!checksum_holds(header)) break;
    std::optional<std::uint64_t> size = number_field(header.substr(124, 12));
    if (!size) break;
    std::uint64_t data = at + kBlock;
    if (*size > bytes.size() - data) {
      listing.truncated = true;
      break;
    }
    char type = header[156];
    std::string_view body = bytes.substr(data, *size);
    if (type == 'L') {
      next_name = c_string(body);
    } else if (type == 'x') {
      if (std::optional<std::string> path = pax_path(body)) next_name = *path;
    } else if (type != 'g' && type != 'K') {
      TarMember member;
      std::string prefix = std::string(header.substr(257, 6)).starts_with("ustar") ? c_string(header.substr(345, 155)) : "";
      member.name = next_name ? *next_name : (prefix.empty() ? "" : prefix + "/") + c_string(header.substr(0, 100));
      member.type = type;
      member.data_offset = data;
      member.size = *size;
      listing.members.push_back(std::move(member));
      next_name.reset();
    }
    at = data + padded(*size);
  }
  return listing;
}

}  // namespace tarnwick
