#include "xgboost/ubjson.h"

#include <bit>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace tarnwick {

namespace {

class UbjsonDecoder {
 public:
  UbjsonDecoder(std::string_view bytes, DecodeBudget& budget, Json::json_sax_t& events)
      : bytes_(bytes), budget_(budget), events_(events) {}

  Status document() {
    if (Status read = value_of(next_marker(), 0); !read.is_ok()) return read;
    if (at_ != bytes_.size()) return broken("trailing bytes after the value");
    return Status::ok();
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

  static bool is_integer_marker(char marker) {
    return marker != '\0' && std::string_view("iUIlL").find(marker) != std::string_view::npos;
  }

  static std::size_t integer_width(char marker) {
    switch (marker) {
      case 'I': return 2;
      case 'l': return 4;
      case 'L': return 8;
      default: return 1;
    }
  }

  // An integer of an integer marker: 'U' unsigned, the others signed.
  Result<std::int64_t> signed_integer(char marker) {
    std::size_t width = integer_width(marker);
    Result<std::uint64_t> raw = big_endian(width);
    if (!raw.is_ok()) return raw.error();
    std::uint64_t value = raw.value();
    if (marker == 'U') return static_cast<std::int64_t>(value);
    std::uint64_t sign_bit = std::uint64_t{1} << (width * 8 - 1);
    if (width < 8 && (value & sign_bit)) value |= ~((sign_bit << 1) - 1);
    return static_cast<std::int64_t>(value);
  }

  Status value_of(char marker, std::size_t depth) {
    if (Status drawn = budget_.draw(1, "UBJSON values"); !drawn.is_ok()) return drawn;
    switch (marker) {
      case 'Z': events_.null(); return Status::ok();
      case 'T': events_.boolean(true); return Status::ok();
      case 'F': events_.boolean(false); return Status::ok();
      case 'i':
      case 'U':
      case 'I':
      case 'l':
      case 'L': return integer(marker);
      case 'd': return real32();
      case 'D': return real64();
      case 'C': {
        if (at_ >= bytes_.size()) return broken("truncated char");
        std::string text(1, bytes_[at_++]);
        events_.string(text);
        return Status::ok();
      }
      case 'S':
      case 'H': return string_value();
      case '[': return array(depth + 1);
      case '{': return object(depth + 1);
      case '\0': return broken("unexpected end of input");
      default: return broken("unknown marker 0x" + hex_byte(marker));
    }
  }

  static std::string hex_byte(char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    auto value = static_cast<unsigned char>(byte);
    return {kDigits[value >> 4], kDigits[value & 15]};
  }

  Status integer(char marker) {
    Result<std::int64_t> value = signed_integer(marker);
    if (!value.is_ok()) return value.error();
    if (marker == 'U') {
      events_.number_unsigned(static_cast<std::uint64_t>(value.value()));
    } else {
      events_.number_integer(value.value());
    }
    return Status::ok();
  }

  Status real32() {
    Result<std::uint64_t> raw = big_endian(4);
    if (!raw.is_ok()) return raw.error();
    events_.number_float(static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw.value()))), {});
    return Status::ok();
  }

  Status real64() {
    Result<std::uint64_t> raw = big_endian(8);
    if (!raw.is_ok()) return raw.error();
    events_.number_float(std::bit_cast<double>(raw.value()), {});
    return Status::ok();
  }

  // A length: any integer marker with a value that fits in the bytes left. It is drawn from the
  // budget like any other value.
  Result<std::uint64_t> length() {
    char marker = next_marker();
    if (!is_integer_marker(marker)) return broken("a length must be an integer");
    if (Status drawn = budget_.draw(1, "UBJSON values"); !drawn.is_ok()) return drawn.error();
    Result<std::int64_t> value = signed_integer(marker);
    if (!value.is_ok()) return value.error();
    if (value.value() < 0) return broken("negative length");
    return static_cast<std::uint64_t>(value.value());
  }

  Result<std::string> text() {
    Result<std::uint64_t> size = length();
    if (!size.is_ok()) return size.error();
    if (size.value() > bytes_.size() - at_) return broken("string runs past the end of the input");
    std::string value(bytes_.substr(at_, size.value()));
    at_ += size.value();
    return value;
  }

  Status string_value() {
    Result<std::string> value = text();
    if (!value.is_ok()) return value.error();
    events_.string(value.value());
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

  static std::size_t stated_size(const Layout& shape) {
    return shape.count ? static_cast<std::size_t>(*shape.count) : static_cast<std::size_t>(-1);
  }

  // The marker of the next element, or '\0' when a container without a count ends with `close`.
  char element_marker(const Layout& shape, char close) {
    if (shape.type != '\0') return shape.type;
    char marker = next_marker();
    if (!shape.count && marker == close) return '\0';
    return marker;
  }

  Status array(std::size_t depth) {
    if (Status deep = check_depth(depth); !deep.is_ok()) return deep;
    Result<Layout> shape = layout();
    if (!shape.is_ok()) return shape.error();
    events_.start_array(stated_size(shape.value()));
    for (std::uint64_t i = 0; !shape.value().count || i < *shape.value().count; ++i) {
      char marker = element_marker(shape.value(), ']');
      if (marker == '\0') break;
      if (Status read = value_of(marker, depth); !read.is_ok()) return read;
    }
    events_.end_array();
    return Status::ok();
  }

  // Whether an object without a count ends here (its '}' is consumed).
  bool object_ends() {
    while (at_ < bytes_.size() && bytes_[at_] == 'N') ++at_;
    if (at_ < bytes_.size() && bytes_[at_] == '}') {
      ++at_;
      return true;
    }
    return false;
  }

  Status object(std::size_t depth) {
    if (Status deep = check_depth(depth); !deep.is_ok()) return deep;
    Result<Layout> shape = layout();
    if (!shape.is_ok()) return shape.error();
    events_.start_object(stated_size(shape.value()));
    std::set<std::string, std::less<>> keys;
    for (std::uint64_t i = 0; !shape.value().count || i < *shape.value().count; ++i) {
      if (!shape.value().count && object_ends()) break;
      Result<std::string> key = text();
      if (!key.is_ok()) return key.error();
      if (!keys.insert(key.value()).second) return broken("duplicate key \"" + key.value() + "\"");
      events_.key(key.value());
      char marker = shape.value().type != '\0' ? shape.value().type : next_marker();
      if (Status read = value_of(marker, depth); !read.is_ok()) return read;
    }
    events_.end_object();
    return Status::ok();
  }

  std::string_view bytes_;
  DecodeBudget& budget_;
  Json::json_sax_t& events_;
  std::size_t at_ = 0;
};

}  // namespace

Status decode_ubjson(std::string_view bytes, DecodeBudget& budget, Json::json_sax_t& events) {
  return UbjsonDecoder(bytes, budget, events).document();
}

}  // namespace tarnwick
