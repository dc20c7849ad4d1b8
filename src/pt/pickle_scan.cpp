#include <array>
#include <set>

#include "main/text.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

namespace {

bool is_name_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

bool looks_like_param_name(std::string_view text) {
  if (text.size() < 2 || text.size() > 200) return false;
  for (char c : text) {
    if (!is_name_byte(c)) return false;
  }
  if (text.find('.') != std::string_view::npos) return true;
  for (std::string_view suffix : {"weight", "bias", "running_mean", "running_var"}) {
    if (text.ends_with(suffix)) return true;
  }
  return false;
}

std::uint32_t le32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

struct StorageClass {
  std::string_view name;
  const char* dtype;
  std::uint64_t size;
};

constexpr std::array<StorageClass, 8> kStorageClasses = {{
    {"DoubleStorage", "float64", 8},
    {"BFloat16Storage", "bfloat16", 2},
    {"HalfStorage", "float16", 2},
    {"FloatStorage", "float32", 4},
    {"LongStorage", "int64", 8},
    {"IntStorage", "int32", 4},
    {"ByteStorage", "uint8", 1},
    {"BoolStorage", "bool", 1},
}};

std::uint64_t count_occurrences(std::string_view haystack, std::string_view needle) {
  std::uint64_t count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string_view::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace

std::vector<std::string> scan_param_names(std::string_view pickle) {
  std::vector<std::string> names;
  std::set<std::string_view> seen;
  std::size_t p = 0;
  while (p < pickle.size()) {
    std::uint8_t opcode = static_cast<std::uint8_t>(pickle[p]);
    std::size_t remaining = pickle.size() - p - 1;
    std::uint64_t length;
    std::size_t start;
    if (opcode == 0x58 && remaining >= 4) {
      length = le32(pickle, p + 1);
      start = p + 5;
    } else if (opcode == 0x8C && remaining >= 1) {
      length = static_cast<std::uint8_t>(pickle[p + 1]);
      start = p + 2;
    } else {
      ++p;
      continue;
    }
    if (length > pickle.size() - start) {
      ++p;
      continue;
    }
    std::string_view candidate = pickle.substr(start, static_cast<std::size_t>(length));
    if (!is_valid_utf8(candidate) || !looks_like_param_name(candidate)) {
      // An opcode byte can also be the argument of another opcode (BINPUT 0x8C before a
      // name); skipping the whole false candidate would swallow the real string behind it.
      ++p;
      continue;
    }
    p = start + static_cast<std::size_t>(length);
    if (seen.insert(candidate).second) names.emplace_back(candidate);
  }
  return names;
}

std::pair<std::optional<std::string>, std::uint64_t> dominant_dtype(std::string_view pickle) {
  const StorageClass* choice = nullptr;
  std::uint64_t best = 0;
  for (const StorageClass& storage : kStorageClasses) {
    std::uint64_t count = count_occurrences(pickle, storage.name);
    if (count > best) {
      choice = &storage;
      best = count;
    }
  }
  if (choice == nullptr) return {std::nullopt, 4};
  return {std::string(choice->dtype), choice->size};
}

}  // namespace tarnwick
