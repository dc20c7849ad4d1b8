#include "base/file_read.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tarnwick {
namespace {

TEST(FileRead, RegularFilesWholeAndStreamsBounded) {
  testing::TempDir dir;
  struct Case {
    std::string path;
    std::uint64_t stream_limit;
    std::optional<std::string> bytes;  // nothing: fails with `error`
    std::string error;
  };
  std::string large(3 << 20, 'x');
  large[12345] = 'y';
  const Case cases[] = {
      {dir.write("empty", ""), 16, std::string(), ""},
      {dir.write("small", "abc\n"), 16, std::string("abc\n"), ""},
      {dir.write("large", large), 16, large, ""},  // a regular file is not held to the stream limit
      {"/dev/null", 16, std::nullopt, "read /dev/null: a device is not read"},
      {"/dev/zero", 1 << 20, std::nullopt, "read /dev/zero: a device is not read"},
      {dir.path().string(), 16, std::nullopt, "read " + dir.path().string() + ": Is a directory"},
      {dir.path().string() + "/missing", 16, std::nullopt,
       "read " + dir.path().string() + "/missing: No such file or directory"},
  };
  for (const Case& c : cases) {
    Result<FileBytes> read = read_whole_file(c.path, c.stream_limit);
    if (c.bytes) {
      ASSERT_TRUE(read.is_ok()) << c.path << ": " << read.message();
      EXPECT_EQ(read.value().view(), *c.bytes) << c.path;
      FileBytes moved = std::move(read.value());
      EXPECT_EQ(moved.view(), *c.bytes) << "the bytes survive a move";
    } else {
      ASSERT_FALSE(read.is_ok()) << c.path;
      EXPECT_EQ(read.message(), c.error);
    }
  }
}

}  // namespace
}  // namespace tarnwick
