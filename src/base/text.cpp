#include "base/text.h"

#include <cstdint>
#include <cstring>

namespace tarnwick {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 when the bytes there are invalid;
// `invalid_length` receives the length of the maximal invalid subpart to replace.
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t i, std::size_t& invalid_length,
                                 bool* truncated = nullptr) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = at(i);
  invalid_length = 1;
  if (lead < 0x80) return 1;
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= bytes.size()) {
      invalid_length = k;
      if (truncated) *truncated = true;
      return 0;
    }
    unsigned char byte = at(i + k);
    unsigned char lo = k == 1 ? low : 0x80;
    unsigned char hi = k == 1 ? high : 0xBF;
    if (byte < lo || byte > hi) {
      invalid_length = k;
      return 0;
    }
  }
  return need + 1;
}

std::uint32_t decode_code_point(std::string_view text, std::size_t i, std::size_t length) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  if (length == 1) return at(i);
  std::uint32_t value = at(i) & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) value = (value << 6) | (at(i + k) & 0x3F);
  return value;
}

bool is_unicode_whitespace(std::uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

namespace {

// The end of the run of ASCII bytes from `at`, eight bytes at a time.
std::size_t skip_ascii(std::string_view bytes, std::size_t at) {
  while (at + 8 <= bytes.size()) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + at, 8);
    if (word & 0x8080808080808080ULL) break;
    at += 8;
  }
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
  return at;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t invalid_length;
  for (std::size_t i = skip_ascii(bytes, 0); i < bytes.size(); i = skip_ascii(bytes, i)) {
    std::size_t length = utf8_sequence_length(bytes, i, invalid_length);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::optional<Utf8Problem> find_utf8_problem(std::string_view bytes) {
  std::size_t invalid_length;
  for (std::size_t i = skip_ascii(bytes, 0); i < bytes.size(); i = skip_ascii(bytes, i)) {
    bool truncated = false;
    std::size_t length = utf8_sequence_length(bytes, i, invalid_length, &truncated);
    if (length != 0) {
      i += length;
      continue;
    }
    if (truncated) return Utf8Problem{i, std::nullopt};
    return Utf8Problem{i, invalid_length};
  }
  return std::nullopt;
}

namespace {

void append_hex(std::string& out, std::uint32_t value, int digits) {
  static const char* const kHex = "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

bool is_control(std::uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string escape_control(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t invalid_length;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = utf8_sequence_length(text, i, invalid_length);
    if (length == 0) {
      for (std::size_t k = 0; k < invalid_length; ++k) {
        out += "\\x";
        append_hex(out, static_cast<unsigned char>(text[i + k]), 2);
      }
      i += invalid_length;
      continue;
    }
    std::uint32_t c = decode_code_point(text, i, length);
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (is_control(c)) {
      out += "\\u{";
      append_hex(out, c, 2);
      out += '}';
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

namespace {

std::size_t character_count(std::string_view text) {
  std::size_t characters = 0;
  for (unsigned char c : text) characters += (c & 0xC0) != 0x80;
  return characters;
}

}  // namespace

std::string pad_right(std::string_view text, std::size_t width) {
  std::size_t characters = character_count(text);
  std::string padded(text);
  if (characters < width) padded.append(width - characters, ' ');
  return padded;
}

std::string pad_left(std::string_view text, std::size_t width) {
  std::size_t characters = character_count(text);
  std::string padded = characters < width ? std::string(width - characters, ' ') : std::string();
  return padded.append(text);
}

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t invalid_length;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = utf8_sequence_length(bytes, i, invalid_length);
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      i += invalid_length;
    } else {
      text.append(bytes.substr(i, length));
      i += length;
    }
  }
  return text;
}

std::string_view trim(std::string_view text) {
  std::size_t invalid_length;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t length = utf8_sequence_length(text, begin, invalid_length);
    if (length == 0 || !is_unicode_whitespace(decode_code_point(text, begin, length))) break;
    begin += length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::size_t length = utf8_sequence_length(text, start, invalid_length);
    if (length != end - start || !is_unicode_whitespace(decode_code_point(text, start, length))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::size_t next_word(std::string_view text, std::size_t from, std::string_view& word) {
  std::size_t invalid_length;
  std::size_t word_start = std::string_view::npos;
  std::size_t i = from;
  while (i < text.size()) {
    std::size_t length = utf8_sequence_length(text, i, invalid_length);
    if (length == 0) length = 1;
    bool space = is_unicode_whitespace(decode_code_point(text, i, length));
    if (space && word_start != std::string_view::npos) break;
    if (!space && word_start == std::string_view::npos) word_start = i;
    i += length;
  }
  word = word_start == std::string_view::npos ? std::string_view() : text.substr(word_start, i - word_start);
  return i;
}

std::vector<std::string_view> split_whitespace(std::string_view text) {
  std::vector<std::string_view> words;
  std::string_view word;
  for (std::size_t at = next_word(text, 0, word); !word.empty(); at = next_word(text, at, word)) words.push_back(word);
  return words;
}

std::string remove_whitespace(std::string_view text) {
  std::string compact;
  for (std::string_view word : split_whitespace(text)) compact += word;
  return compact;
}

namespace {

// The last normal component of a path, or empty when the path ends in ".." or is a root.
std::string_view last_component(std::string_view path) {
  while (true) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.ends_with("/.")) {
      path.remove_suffix(2);
      continue;
    }
    break;
  }
  if (path == ".") return {};
  std::size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name == "..") return {};
  return name;
}

}  // namespace

std::string display_file_name(const std::string& path) {
  std::string_view name = last_component(path);
  if (name.empty() || !is_valid_utf8(name)) return path;
  return std::string(name);
}

std::string last_path_component(const std::string& path) {
  std::string_view name = last_component(path);
  return name.empty() ? path : std::string(name);
}

std::string path_extension(const std::string& path) {
  std::string_view name = last_component(path);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return std::string(name.substr(dot + 1));
}

}  // namespace tarnwick
