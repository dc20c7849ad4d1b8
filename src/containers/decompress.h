// Compressed streams as the Python loaders open them (joblib's wrappers, zip entry methods),
// inflated under a size budget so that a small bomb cannot take the machine's memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

enum class Compression : std::uint8_t { kZlib, kGzip, kBzip2, kXz, kLzma };

std::string_view compression_name(Compression compression);  // "zlib", "gzip", "bz2", "xz", "lzma"

// The wrapper joblib would recognise by the stream's first bytes (its own magic test), if any.
std::optional<Compression> detect_compression(std::string_view bytes);

// What one compressed stream may expand to: 32 times its size and 64 MiB besides, which holds any
// model a compressor is used on and stops a bomb long before memory runs out.
std::uint64_t decompression_budget(std::uint64_t compressed_size);

// The whole decompressed stream; fails when it is corrupt, ends early, or would pass `limit`
// bytes ("decompresses past N bytes").
Result<std::string> decompress(Compression compression, std::string_view bytes, std::uint64_t limit);

// Zip entry methods: 8 deflate (raw), 12 bzip2, 14 lzma (the zip form: a 4-byte version and
// properties header before the raw stream, whose size the directory states). Other methods fail
// with their number.
Result<std::string> decompress_zip_entry(std::uint16_t method, std::string_view bytes, std::uint64_t uncompressed_size,
                                         std::uint64_t limit);

}  // namespace tarnwick
