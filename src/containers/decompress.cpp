#include "containers/decompress.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <array>

namespace tarnwick {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;

std::string past_budget(std::uint64_t limit) {
  return "decompresses past " + std::to_string(limit) + " bytes, the budget for a stream of its size";
}

// zlib and gzip (windowBits 15 or 31), or raw deflate (-15). gzip members may follow each other,
// as Python's gzip module reads them.
Result<std::string> inflate_zlib(std::string_view bytes, int window_bits, std::uint64_t limit) {
  std::string out;
  std::size_t at = 0;
  do {
    z_stream stream{};
    if (inflateInit2(&stream, window_bits) != Z_OK) return fail("inflate could not start");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + at));
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(bytes.size() - at, UINT32_MAX));
    int code = Z_OK;
    std::array<char, kChunk> chunk;
    while (code != Z_STREAM_END) {
      stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
      stream.avail_out = kChunk;
      code = inflate(&stream, Z_NO_FLUSH);
      if (code != Z_OK && code != Z_STREAM_END) {
        inflateEnd(&stream);
        if (code == Z_BUF_ERROR) return fail("the compressed stream ends early");
        return fail(std::string("corrupt compressed stream (") + (stream.msg != nullptr ? stream.msg : "zlib") + ")");
      }
      std::size_t produced = kChunk - stream.avail_out;
      if (out.size() + produced > limit) {
        inflateEnd(&stream);
        return fail(past_budget(limit));
      }
      out.append(chunk.data(), produced);
      if (code == Z_OK && produced == 0 && stream.avail_in == 0) {
        inflateEnd(&stream);
        return fail("the compressed stream ends early");
      }
    }
    at += stream.total_in;
    inflateEnd(&stream);
  } while (window_bits == 31 && at + 2 <= bytes.size() && bytes[at] == '\x1f' && bytes[at + 1] == '\x8b');
  return out;
}

Result<std::string> inflate_bzip2(std::string_view bytes, std::uint64_t limit) {
  std::string out;
  std::size_t at = 0;
  do {  // concatenated streams, as Python's bz2 module reads them
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return fail("bzip2 could not start");
    stream.next_in = const_cast<char*>(bytes.data() + at);
    stream.avail_in = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - at, UINT32_MAX));
    std::array<char, kChunk> chunk;
    int code = BZ_OK;
    while (code != BZ_STREAM_END) {
      stream.next_out = chunk.data();
      stream.avail_out = kChunk;
      code = BZ2_bzDecompress(&stream);
      std::size_t produced = kChunk - stream.avail_out;
      if (code != BZ_OK && code != BZ_STREAM_END) {
        BZ2_bzDecompressEnd(&stream);
        return fail("corrupt bzip2 stream");
      }
      if (out.size() + produced > limit) {
        BZ2_bzDecompressEnd(&stream);
        return fail(past_budget(limit));
      }
      out.append(chunk.data(), produced);
      if (code == BZ_OK && produced == 0 && stream.avail_in == 0) {
        BZ2_bzDecompressEnd(&stream);
        return fail("the compressed stream ends early");
      }
    }
    at = bytes.size() - stream.avail_in;
    BZ2_bzDecompressEnd(&stream);
  } while (at + 3 <= bytes.size() && bytes.substr(at, 3) == "BZh");
  return out;
}

Result<std::string> run_lzma(lzma_stream& stream, std::string_view bytes, std::uint64_t limit) {
  stream.next_in = reinterpret_cast<const uint8_t*>(bytes.data());
  stream.avail_in = bytes.size();
  std::string out;
  std::array<std::uint8_t, kChunk> chunk;
  lzma_ret code = LZMA_OK;
  while (code != LZMA_STREAM_END) {
    stream.next_out = chunk.data();
    stream.avail_out = kChunk;
    code = lzma_code(&stream, stream.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
    std::size_t produced = kChunk - stream.avail_out;
    if (code != LZMA_OK && code != LZMA_STREAM_END) {
      lzma_end(&stream);
      return fail(code == LZMA_BUF_ERROR ? "the compressed stream ends early" : "corrupt lzma/xz stream");
    }
    if (out.size() + produced > limit) {
      lzma_end(&stream);
      return fail(past_budget(limit));
    }
    out.append(reinterpret_cast<const char*>(chunk.data()), produced);
  }
  lzma_end(&stream);
  return out;
}

Result<std::string> inflate_xz_or_lzma(std::string_view bytes, bool xz, std::uint64_t limit) {
  lzma_stream stream = LZMA_STREAM_INIT;
  // Concatenated xz streams are read as Python's lzma module reads them; the memory the decoder
  // may take is bounded as well.
  lzma_ret started = xz ? lzma_stream_decoder(&stream, std::uint64_t{256} << 20, LZMA_CONCATENATED)
                        : lzma_alone_decoder(&stream, std::uint64_t{256} << 20);
  if (started != LZMA_OK) return fail("lzma could not start");
  return run_lzma(stream, bytes, limit);
}

// Zip's lzma method: 2 version bytes, 2 bytes of properties size, the properties (5 bytes for
// LZMA1), then a raw stream.
Result<std::string> inflate_zip_lzma(std::string_view bytes, std::uint64_t uncompressed_size, std::uint64_t limit) {
  if (bytes.size() < 4) return fail("the lzma entry header is cut short");
  std::size_t properties_size = static_cast<std::uint8_t>(bytes[2]) | static_cast<std::uint8_t>(bytes[3]) << 8;
  if (properties_size != 5 || bytes.size() < 4 + properties_size) return fail("the lzma entry's properties are not LZMA1's");
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const uint8_t*>(bytes.data() + 4), 5) != LZMA_OK) {
    return fail("the lzma entry's properties are invalid");
  }
  // The directory states the size; the end marker may be there or not.
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options->ext_size_low = static_cast<std::uint32_t>(uncompressed_size);
  options->ext_size_high = static_cast<std::uint32_t>(uncompressed_size >> 32);
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret started = lzma_raw_decoder(&stream, filters);
  free(filters[0].options);
  if (started != LZMA_OK) return fail("lzma could not start");
  return run_lzma(stream, bytes.substr(9), limit);
}

}  // namespace

std::string_view compression_name(Compression compression) {
  switch (compression) {
    case Compression::kZlib: return "zlib";
    case Compression::kGzip: return "gzip";
    case Compression::kBzip2: return "bz2";
    case Compression::kXz: return "xz";
    case Compression::kLzma: return "lzma";
  }
  return "?";
}

std::optional<Compression> detect_compression(std::string_view bytes) {
  if (bytes.starts_with("\x78")) return Compression::kZlib;
  if (bytes.starts_with("\x1f\x8b")) return Compression::kGzip;
  if (bytes.starts_with("BZh")) return Compression::kBzip2;
  if (bytes.starts_with(std::string_view("\x5d\x00", 2))) return Compression::kLzma;
  if (bytes.starts_with("\xfd\x37\x7a\x58\x5a")) return Compression::kXz;
  return std::nullopt;
}

std::uint64_t decompression_budget(std::uint64_t compressed_size) {
  return 32 * compressed_size + (std::uint64_t{64} << 20);
}

Result<std::string> decompress(Compression compression, std::string_view bytes, std::uint64_t limit) {
  switch (compression) {
    case Compression::kZlib: return inflate_zlib(bytes, 15, limit);
    case Compression::kGzip: return inflate_zlib(bytes, 31, limit);
    case Compression::kBzip2: return inflate_bzip2(bytes, limit);
    case Compression::kXz: return inflate_xz_or_lzma(bytes, true, limit);
    case Compression::kLzma: return inflate_xz_or_lzma(bytes, false, limit);
  }
  return fail("unknown compression");
}

Result<std::string> decompress_zip_entry(std::uint16_t method, std::string_view bytes, std::uint64_t uncompressed_size,
                                         std::uint64_t limit) {
  switch (method) {
    case 8: return inflate_zlib(bytes, -15, limit);
    case 12: return inflate_bzip2(bytes, limit);
    case 14: return inflate_zip_lzma(bytes, uncompressed_size, limit);
    default: return fail("compression method " + std::to_string(method) + " is not one the loaders inflate");
  }
}

}  // namespace tarnwick
