#include "containers/npy_header.h"

#include <cctype>
#include <optional>

#include "base/little_endian.h"

namespace tarnwick {

namespace {

// A cursor over the header's Python literal: only what numpy writes and its safe_eval takes
// (strings, booleans, integers, tuples, lists and the one dict).
class Literal {
 public:
  explicit Literal(std::string_view text) : text_(text) {}

  void skip_space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool take(char c) {
    skip_space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  std::optional<std::string> string() {
    skip_space();
    if (at_ >= text_.size() || (text_[at_] != '\'' && text_[at_] != '"')) return std::nullopt;
    char quote = text_[at_++];
    std::size_t end = text_.find(quote, at_);
    if (end == std::string_view::npos) return std::nullopt;
    std::string value(text_.substr(at_, end - at_));
    at_ = end + 1;
    return value;
  }
  std::optional<std::uint64_t> integer() {
    skip_space();
    std::size_t start = at_;
    std::uint64_t value = 0;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
      if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(text_[at_++] - '0');
    }
    if (at_ < text_.size() && text_[at_] == 'L') ++at_;
    if (at_ == start) return std::nullopt;
    return value;
  }
  std::optional<bool> boolean() {
    skip_space();
    for (auto [word, value] : {std::pair{std::string_view("True"), true}, std::pair{std::string_view("False"), false}}) {
      if (text_.substr(at_).starts_with(word)) {
        at_ += word.size();
        return value;
      }
    }
    return std::nullopt;
  }
  // A structured dtype's list, kept as text; every type string inside is offered to `each`.
  template <class Each>
  std::optional<std::string> bracketed(Each each) {
    skip_space();
    std::size_t start = at_;
    int depth = 0;
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c == '\'' || c == '"') {
        std::optional<std::string> value = string();
        if (!value) return std::nullopt;
        each(*value);
        continue;
      }
      if (c == '[' || c == '(') ++depth;
      if (c == ']' || c == ')') --depth;
      ++at_;
      if (depth == 0) return std::string(text_.substr(start, at_ - start));
    }
    return std::nullopt;
  }
  bool at_end() {
    skip_space();
    return at_ >= text_.size();
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

bool names_object_type(std::string_view type) {
  while (!type.empty() && (type.front() == '<' || type.front() == '>' || type.front() == '|' || type.front() == '=')) {
    type.remove_prefix(1);
  }
  return type.starts_with('O');
}

Status read_shape(Literal& literal, NpyHeader& header) {
  if (!literal.take('(')) return fail("its shape is not a tuple");
  if (literal.take(')')) return Status::ok();
  while (true) {
    std::optional<std::uint64_t> dim = literal.integer();
    if (!dim) return fail("its shape holds something other than whole numbers");
    header.shape.push_back(*dim);
    if (literal.take(')')) return Status::ok();
    if (!literal.take(',')) return fail("its shape is not a tuple");
    if (literal.take(')')) return Status::ok();
  }
}

Status read_dict(std::string_view text, NpyHeader& header) {
  Literal literal(text);
  if (!literal.take('{')) return fail("its header is not a dict");
  bool descr = false, order = false, shape = false;
  while (!literal.take('}')) {
    std::optional<std::string> key = literal.string();
    if (!key || !literal.take(':')) return fail("its header is not a dict of named entries");
    if (*key == "descr") {
      descr = true;
      if (std::optional<std::string> type = literal.string()) {
        header.descr = *type;
        header.has_object = names_object_type(*type);
      } else {
        std::optional<std::string> list = literal.bracketed([&](const std::string& part) {
          if (names_object_type(part)) header.has_object = true;
        });
        if (!list) return fail("its descr is neither a type string nor a list of fields");
        header.descr = *list;
      }
    } else if (*key == "fortran_order") {
      std::optional<bool> value = literal.boolean();
      if (!value) return fail("its fortran_order is not True or False");
      order = true;
      header.fortran_order = *value;
    } else if (*key == "shape") {
      shape = true;
      if (Status read = read_shape(literal, header); !read.is_ok()) return read;
    } else {
      return fail("its header has an entry numpy does not take: " + *key);
    }
    if (!literal.take(',')) {
      if (!literal.take('}')) return fail("its header dict is not closed");
      break;
    }
  }
  if (!descr || !order || !shape) return fail("its header lacks descr, fortran_order or shape");
  return Status::ok();
}

}  // namespace

bool is_npy(std::string_view bytes) { return bytes.starts_with(kNpyMagic); }

Result<NpyHeader> read_npy_header(std::string_view bytes) {
  if (!is_npy(bytes) || bytes.size() < 10) return fail("not a .npy array (no \\x93NUMPY magic)");
  NpyHeader header;
  header.major_version = static_cast<std::uint8_t>(bytes[6]);
  header.minor_version = static_cast<std::uint8_t>(bytes[7]);
  std::size_t width = header.major_version == 1 ? 2 : 4;
  if (header.major_version < 1 || header.major_version > 3) {
    return fail("unknown .npy version " + std::to_string(header.major_version));
  }
  if (bytes.size() < 8 + width) return fail("its header is cut short");
  std::uint64_t length = little_endian(bytes, 8, width);
  if (length > bytes.size() - 8 - width) return fail("its header runs past the end of the file");
  header.data_offset = 8 + width + length;
  if (Status read = read_dict(bytes.substr(8 + width, length), header); !read.is_ok()) return read.error();
  return header;
}

}  // namespace tarnwick
