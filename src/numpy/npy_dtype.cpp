#include "numpy/npy_dtype.h"

#include <array>
#include <cctype>

namespace tarnwick {

namespace {

struct Known {
  std::string_view code;  // kind and size, as after the byte-order character
  std::string_view name;
};

constexpr std::array<Known, 14> kKnown{{{"f8", "float64"}, {"f4", "float32"}, {"f2", "float16"},
                                        {"c8", "complex64"}, {"c16", "complex128"}, {"i8", "int64"},
                                        {"i4", "int32"}, {"i2", "int16"}, {"i1", "int8"}, {"u8", "uint64"},
                                        {"u4", "uint32"}, {"u2", "uint16"}, {"u1", "uint8"}, {"b1", "bool"}}};

// The element size a simple dtype code states: "U10" holds ten 4-byte code points, "S5" five
// bytes, "M8[ns]" eight bytes.
std::optional<std::uint64_t> stated_size(std::string_view code) {
  if (code.empty() || !std::isalpha(static_cast<unsigned char>(code[0]))) return std::nullopt;
  std::size_t digits = 1;
  std::uint64_t size = 0;
  while (digits < code.size() && std::isdigit(static_cast<unsigned char>(code[digits])) && size < (1u << 30)) {
    size = size * 10 + static_cast<std::uint64_t>(code[digits++] - '0');
  }
  if (digits == 1) return std::nullopt;
  if (digits < code.size() && code[digits] != '[') return std::nullopt;
  return code[0] == 'U' ? size * 4 : size;
}

}  // namespace

NpyDtype npy_dtype(std::string_view descr) {
  NpyDtype dtype;
  std::string_view code = descr;
  if (!code.empty() && (code[0] == '<' || code[0] == '>' || code[0] == '|' || code[0] == '=')) {
    dtype.big_endian = code[0] == '>';
    code.remove_prefix(1);
  }
  if (code == "O" || code == "O8") {
    dtype.name = "object";
    return dtype;
  }
  for (const Known& known : kKnown) {
    if (code == known.code) {
      dtype.name = known.name;
      dtype.itemsize = stated_size(code);
      return dtype;
    }
  }
  dtype.name = "unknown(" + std::string(descr) + ")";
  dtype.itemsize = stated_size(code);
  return dtype;
}

}  // namespace tarnwick
