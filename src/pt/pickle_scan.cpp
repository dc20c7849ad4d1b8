#include <array>
#include <set>

#include "base/text.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

namespace {

bool is_name_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

// Answers "where is the first byte at or after `start` that satisfies the predicate?" in
// amortised constant time for the nearly increasing starts of the name scan: it remembers one
// stretch [from, found) known to hold no such byte and extends it instead of rescanning.
template <class Predicate>
class NextMatch {
 public:
  NextMatch(std::string_view bytes, Predicate predicate) : bytes_(bytes), predicate_(predicate) {}

  std::size_t at_or_after(std::size_t start) {
    if (start >= from_ && start <= found_) return found_;
    std::size_t at = start;
    while (at < bytes_.size() && !predicate_(bytes_[at])) {
      ++steps_;
      if (at == from_) {  // joined the remembered stretch from below
        from_ = start;
        return found_;
      }
      ++at;
    }
    from_ = start;
    found_ = at;
    return found_;
  }
  std::uint64_t steps() const { return steps_; }

 private:
  std::string_view bytes_;
  Predicate predicate_;
  std::size_t from_ = std::string_view::npos, found_ = std::string_view::npos;  // nothing known yet
  std::uint64_t steps_ = 0;
};

bool ends_with_param_suffix(std::string_view text) {
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

// A candidate passes when it is 2 to 200 name bytes (ASCII, so valid UTF-8) holding a "." or
// ending in a parameter suffix. A failed candidate moves the scan one byte on, because its
// opcode byte may be the argument of another opcode (BINPUT 0x8C before a name) and skipping
// the whole candidate would swallow the real string behind it. Each check is constant time
// (the runs of name bytes and the dots are found by two forward cursors), so the pass is
// linear however many false candidates the bytes hold.
std::vector<std::string> scan_param_names(std::string_view pickle, NameScanWork* work) {
  std::vector<std::string> names;
  std::set<std::string_view> seen;
  NextMatch non_name(pickle, [](char c) { return !is_name_byte(c); });
  NextMatch dot(pickle, [](char c) { return c == '.'; });
  std::uint64_t candidates = 0;
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
    ++candidates;
    std::size_t end = start + static_cast<std::size_t>(length);
    bool passes = length >= 2 && length <= 200 && non_name.at_or_after(start) >= end &&
                  (dot.at_or_after(start) < end || ends_with_param_suffix(pickle.substr(start, length)));
    if (!passes) {
      ++p;
      continue;
    }
    std::string_view candidate = pickle.substr(start, static_cast<std::size_t>(length));
    p = end;
    if (seen.insert(candidate).second) names.emplace_back(candidate);
  }
  if (work != nullptr) {
    work->candidates = candidates;
    work->cursor_steps = non_name.steps() + dot.steps();
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
