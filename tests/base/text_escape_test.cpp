#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace tarnwick {
namespace {

TEST(Text, ControlCharactersAreEscapedAndEverythingElseKept) {
  struct Case {
    std::string raw, shown;
  };
  const Case cases[] = {
      {"layer.0/attn", "layer.0/attn"},
      {"caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80"},
      {"back\\slash", "back\\slash"},
      {"a\nb", "a\\nb"},
      {"a\r\nb", "a\\r\\nb"},
      {"tab\there", "tab\\there"},
      {"\x1b[2J\x1b[31mred", "\\u{1b}[2J\\u{1b}[31mred"},
      {std::string("nul\0x", 5), "nul\\u{00}x"},
      {"del\x7f", "del\\u{7f}"},
      {"c1\xC2\x85", "c1\\u{85}"},
      {"bad\xFF\xFE", "bad\\xff\\xfe"},
      {"cut\xE2\x86", "cut\\xe2\\x86"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(escape_control(c.raw), c.shown) << c.shown;
}

TEST(Text, LastPathComponentWhateverItsBytes) {
  struct Case {
    std::string path, component, display;
  };
  const Case cases[] = {
      {"dir/model.onnx", "model.onnx", "model.onnx"},
      {"dir/m\xFF.onnx", "m\xFF.onnx", "dir/m\xFF.onnx"},
      {"dir/sub/", "sub", "sub"},
      {"/", "/", "/"},
      {"..", "..", ".."},
      {"a/./", "a", "a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(last_path_component(c.path), c.component) << c.path;
    EXPECT_EQ(display_file_name(c.path), c.display) << c.path;
  }
}

}  // namespace
}  // namespace tarnwick
