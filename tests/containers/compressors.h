// Compresses test data the way Python's zlib, gzip, bz2 and lzma modules (and zipfile) write it,
// through the same Debian libraries.
#pragma once

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

#include <string>
#include <string_view>

#include "containers/decompress.h"

namespace tarnwick::testing {

// zlib (15), gzip (31) or raw deflate (-15).
inline std::string deflate_with(std::string_view data, int window_bits) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

inline std::string bzip2_of(std::string_view data) {
  std::string out(data.size() + data.size() / 100 + 700, '\0');
  unsigned length = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()), 9, 0, 0);
  out.resize(length);
  return out;
}

// Runs an encoder set up on `stream` over the whole of `data`.
inline std::string run_lzma_encoder(lzma_stream& stream, std::string_view data) {
  std::string out(data.size() + 1024, '\0');
  stream.next_in = reinterpret_cast<const uint8_t*>(data.data());
  stream.avail_in = data.size();
  stream.next_out = reinterpret_cast<uint8_t*>(out.data());
  stream.avail_out = out.size();
  if (lzma_code(&stream, LZMA_FINISH) != LZMA_STREAM_END) out.clear();
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

inline std::string xz_or_lzma_of(std::string_view data, bool xz) {
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  lzma_ret started = xz ? lzma_easy_encoder(&stream, 6, LZMA_CHECK_CRC64) : lzma_alone_encoder(&stream, &options);
  if (started != LZMA_OK) return {};
  return run_lzma_encoder(stream, data);
}

inline std::string compress_as(Compression compression, std::string_view data) {
  switch (compression) {
    case Compression::kZlib: return deflate_with(data, 15);
    case Compression::kGzip: return deflate_with(data, 31);
    case Compression::kBzip2: return bzip2_of(data);
    case Compression::kXz: return xz_or_lzma_of(data, true);
    case Compression::kLzma: return xz_or_lzma_of(data, false);
  }
  return {};
}

// zipfile's lzma entry: version 9.20, 5 bytes of LZMA1 properties, then the raw stream with its
// end marker.
inline std::string zip_lzma_of(std::string_view data) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::uint32_t properties_size = 0;
  lzma_properties_size(&properties_size, &filters[0]);
  std::string header(4 + properties_size, '\0');
  header[0] = 9;
  header[1] = 20;
  header[2] = static_cast<char>(properties_size);
  lzma_properties_encode(&filters[0], reinterpret_cast<uint8_t*>(header.data() + 4));
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return {};
  return header + run_lzma_encoder(stream, data);
}

}  // namespace tarnwick::testing
