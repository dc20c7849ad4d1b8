#include "containers/decompress.h"

#include <gtest/gtest.h>

#include "containers/compressors.h"

namespace tarnwick {
namespace {

std::string sample_bytes(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7919 + i / 13) & 0xff);
  return data;
}

TEST(Decompress, EveryWrapperRoundTripsAndIsKnownByItsSignature) {
  std::string data = sample_bytes(300'000);
  for (Compression compression : {Compression::kZlib, Compression::kGzip, Compression::kBzip2, Compression::kXz,
                                  Compression::kLzma}) {
    std::string packed = testing::compress_as(compression, data);
    EXPECT_EQ(detect_compression(packed), compression) << compression_name(compression);
    Result<std::string> unpacked = decompress(compression, packed, decompression_budget(packed.size()));
    ASSERT_TRUE(unpacked.is_ok()) << compression_name(compression) << ": " << unpacked.message();
    EXPECT_EQ(unpacked.value(), data) << compression_name(compression);
    // Concatenated streams read on, as Python's modules read them.
    if (compression == Compression::kGzip || compression == Compression::kBzip2 || compression == Compression::kXz) {
      Result<std::string> twice = decompress(compression, packed + packed, decompression_budget(2 * packed.size()));
      ASSERT_TRUE(twice.is_ok()) << compression_name(compression) << ": " << twice.message();
      EXPECT_EQ(twice.value(), data + data) << compression_name(compression);
    }
  }
}

TEST(Decompress, BombsCutStreamsAndGarbageFailWithTheirReason) {
  std::string zeros(8u << 20, '\0');
  struct Case {
    const char* name;
    Compression compression;
    std::string bytes;
    std::uint64_t limit;
    const char* reason;
  };
  std::string gzip = testing::compress_as(Compression::kGzip, sample_bytes(100'000));
  std::string xz = testing::compress_as(Compression::kXz, sample_bytes(100'000));
  std::string bz2 = testing::compress_as(Compression::kBzip2, sample_bytes(100'000));
  std::vector<Case> cases = {
      {"8 MiB of zeros past a 1 MiB budget", Compression::kGzip, testing::compress_as(Compression::kGzip, zeros), 1u << 20,
       "decompresses past 1048576 bytes, the budget for a stream of its size"},
      {"the same as bz2", Compression::kBzip2, testing::compress_as(Compression::kBzip2, zeros), 1u << 20,
       "decompresses past 1048576 bytes, the budget for a stream of its size"},
      {"the same as xz", Compression::kXz, testing::compress_as(Compression::kXz, zeros), 1u << 20,
       "decompresses past 1048576 bytes, the budget for a stream of its size"},
      {"a gzip stream cut in half", Compression::kGzip, gzip.substr(0, gzip.size() / 2), 1u << 30,
       "the compressed stream ends early"},
      {"an xz stream cut in half", Compression::kXz, xz.substr(0, xz.size() / 2), 1u << 30,
       "the compressed stream ends early"},
      {"a bz2 stream cut in half", Compression::kBzip2, bz2.substr(0, bz2.size() / 2), 1u << 30,
       "the compressed stream ends early"},
      {"zlib's signature before garbage", Compression::kZlib, "\x78\x01garbage", 1u << 30,
       "corrupt compressed stream (invalid block type)"},
  };
  for (const Case& c : cases) {
    Result<std::string> result = decompress(c.compression, c.bytes, c.limit);
    ASSERT_FALSE(result.is_ok()) << c.name;
    EXPECT_EQ(result.message(), c.reason) << c.name;
  }
}

TEST(Decompress, ZipEntryMethodsInflateAsZipfileWritesThem) {
  std::string data = sample_bytes(50'000);
  EXPECT_EQ(decompress_zip_entry(8, testing::deflate_with(data, -15), data.size(), data.size()).value(), data);
  EXPECT_EQ(decompress_zip_entry(12, testing::bzip2_of(data), data.size(), data.size()).value(), data);
  EXPECT_EQ(decompress_zip_entry(14, testing::zip_lzma_of(data), data.size(), data.size()).value(), data);
  Result<std::string> other = decompress_zip_entry(99, data, data.size(), data.size());
  EXPECT_EQ(other.message(), "compression method 99 is not one the loaders inflate");
  // An entry that inflates past the size its directory states is cut off at that size.
  EXPECT_FALSE(decompress_zip_entry(8, testing::deflate_with(data, -15), 10, 10).is_ok());
}

}  // namespace
}  // namespace tarnwick
