#include "xgboost/ubjson.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace tarnwick {

namespace {

class UbjsonDecoder {
 public:
  UbjsonDecoder(std::string_view bytes, DecodeBudget& budget) : bytes_(bytes), budget_(budget) {}

  Result<Json> document() {
    Json value;
    if (Status read = value_of(next_marker(), value, 0); !read.is_ok()) return read.error();
    if (at_ != bytes_.size()) return broken("trailing bytes after the value");
    return value;
  }

 private:
  Error broken(const std::string& problem) const {
    return fail("invalid UBJSON at byte " + std::to_string(at_) + ": " + problem);
  }

  // The next marker, skipping no-op markers; 0 at the end of the input.
  char next_marker() {
    while (at_ < bytes_.size() && bytes_[at_] == 'N') ++at_;
    return at_ < bytes_.size() ? bytes_[at_++] : '\0';
  }

  Result<std::uint64_t> big_endian(std::size_t width) {
    if (bytes_.size() - at_ < width) return broken("truncated number");
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    at_ += width;
    return value;
  }

  Status value_of(char marker, Json& out, std::size_t depth) {
    if (Status drawn = budget_.draw(1, "UBJSON values"); !drawn.is_ok()) return drawn;
    switch (marker) {
      case 'Z': out = nullptr; return Status::ok();
      case 'T': out = true; return Status::ok();
      case 'F': out = false; return Status::ok();
      case 'i': return integer(1, true, out);
      case 'U': return integer(1, false, out);
      case 'I': return integer(2, true, out);
      case 'l': return integer(4, true, out);
      case 'L': return integer(8, true, out);
      case 'd': return real32(out);
      case 'D': return real64(out);
      case 'C': {
        if (at_ >= bytes_.size()) return broken("truncated char");
        out = std::string(1, bytes_[at_++]);
        return Status::ok();
      }
      case 'S':
      case 'H': return string_value(out);
      case '[': return array(out, depth + 1);
      case '{': return object(out, depth + 1);
      case '\0': return broken("unexpected end of input");
      default: return broken("unknown marker 0x" + hex_byte(marker));
    }
  }

  static std::string hex_byte(char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    auto value = static_cast<unsigned char>(byte);
    return {kDigits[value >> 4], kDigits[value & 15]};
  }

  Status integer(std::size_t width, bool is_signed, Json& out) {
    Result<std::uint64_t> raw = big_endian(width);
    if (!raw.is_ok()) return raw.error();
    if (!is_signed) {
      out = raw.value();
      return Status::ok();
    }
    std::uint64_t sign_bit = std::uint64_t{1} << (width * 8 - 1);
    std::uint64_t value = raw.value();
    if (width < 8 && (value & sign_bit)) value |= ~((sign_bit << 1) - 1);
    out = static_cast<std::int64_t>(value);
    return Status::ok();
  }

  Status real32(Json& out) {
    Result<std::uint64_t> raw = big_endian(4);
    if (!raw.is_ok()) return raw.error();
    out = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw.value())));
    return Status::ok();
  }

  Status real64(Json& out) {
    Result<std::uint64_t> raw = big_endian(8);
    if (!raw.is_ok()) return raw.error();
    out = std::bit_cast<double>(raw.value());
    return Status::ok();
  }

  // A length: any integer marker with a value that fits in the bytes left.
  Result<std::uint64_t> length() {
    Json value;
    char marker = next_marker();
    if (std::string_view("iUIlL").find(marker) == std::string_view::npos || marker == '\0') {
      return broken("a length must be an integer");
    }
    if (Status read = value_of(marker, value, 0); !read.is_ok()) return read.error();
    if (value.is_number_integer() && value.get<std::int64_t>() < 0) return broken("negative length");
    return value.get<std::uint64_t>();
  }

  Result<std::string> text() {
    Result<std::uint64_t> size = length();
    if (!size.is_ok()) return size.error();
    if (size.value() > bytes_.size() - at_) return broken("string runs past the end of the input");
    std::string value(bytes_.substr(at_, size.value()));
    at_ += size.value();
    return value;
  }

  Status string_value(Json& out) {
    Result<std::string> value = text();
    if (!value.is_ok()) return value.error();
    out = std::move(value.value());
    return Status::ok();
  }

  struct Layout {
    char type = '\0';                    // the one marker of every element, when stated
    std::optional<std::uint64_t> count;  // when stated
  };

  Result<Layout> layout() {
    Layout result;
    if (at_ < bytes_.size() && bytes_[at_] == '$') {
      ++at_;
      if (at_ >= bytes_.size()) return broken("truncated container type");
      result.type = bytes_[at_++];
      if (at_ >= bytes_.size() || bytes_[at_] != '#') return broken("a typed container must state its count");
    }
    if (at_ < bytes_.size() && bytes_[at_] == '#') {
      ++at_;
      Result<std::uint64_t> count = length();
      if (!count.is_ok()) return count.error();
      // Drawing the whole count first refuses counts no input of this size could hold.
      if (Status drawn = budget_.draw(count.value(), "UBJSON values"); !drawn.is_ok()) return drawn.error();
      result.count = count.value();
    }
    return result;
  }

  Status check_depth(std::size_t depth) {
    if (depth > DecodeBudget::kMaxValueNesting) {
      return broken("values nested deeper than " + std::to_string(DecodeBudget::kMaxValueNesting) + " levels");
    }
    return Status::ok();
  }

  // The marker of the next element, or '\0' when a container without a count ends with `close`.
  char element_marker(const Layout& shape, char close) {
    if (shape.type != '\0') return shape.type;
    char marker = next_marker();
    if (!shape.count && marker == close) return '\0';
    return marker;
  }

  Status array(Json& out, std::size_t depth) {
    if (Status deep = check_depth(depth); !deep.is_ok()) return deep;
    Result<Layout> shape = layout();
    if (!shape.is_ok()) return shape.error();
    out = Json::array();
    for (std::uint64_t i = 0; !shape.value().count || i < *shape.value().count; ++i) {
      char marker = element_marker(shape.value(), ']');
      if (marker == '\0') return Status::ok();
      Json element;
      if (Status read = value_of(marker, element, depth); !read.is_ok()) return read;
      out.push_back(std::move(element));
    }
    return Status::ok();
  }

  Status object(Json& out, std::size_t depth) {
    if (Status deep = check_depth(depth); !deep.is_ok()) return deep;
    Result<Layout> shape = layout();
    if (!shape.is_ok()) return shape.error();
    out = Json::object();
    for (std::uint64_t i = 0; !shape.value().count || i < *shape.value().count; ++i) {
      if (!shape.value().count) {
        while (at_ < bytes_.size() && bytes_[at_] == 'N') ++at_;
        if (at_ < bytes_.size() && bytes_[at_] == '}') {
          ++at_;
          return Status::ok();
        }
      }
      Result<std::string> key = text();
      if (!key.is_ok()) return key.error();
      if (out.contains(key.value())) return broken("duplicate key \"" + key.value() + "\"");
      char marker = shape.value().type != '\0' ? shape.value().type : next_marker();
      Json element;
      if (Status read = value_of(marker, element, depth); !read.is_ok()) return read;
      out[key.value()] = std::move(element);
    }
    return Status::ok();
  }

  std::string_view bytes_;
  DecodeBudget& budget_;
  std::size_t at_ = 0;
};

}  // namespace

Result<Json> decode_ubjson(std::string_view bytes, DecodeBudget& budget) {
  return UbjsonDecoder(bytes, budget).document();
}

}  // namespace tarnwick
