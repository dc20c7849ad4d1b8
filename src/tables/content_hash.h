// Fast content fingerprints (XXH3-64) for tensor bytes and whole files.
#pragma once

#include <xxhash.h>

#include <cstdint>
#include <string_view>

namespace tarnwick {

inline std::uint64_t xxh3_64(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

// Incremental XXH3-64, for fingerprints fed from several byte ranges.
class Xxh3Stream {
 public:
  Xxh3Stream() : state_(XXH3_createState()) { XXH3_64bits_reset(state_); }
  ~Xxh3Stream() { XXH3_freeState(state_); }
  Xxh3Stream(const Xxh3Stream&) = delete;
  Xxh3Stream& operator=(const Xxh3Stream&) = delete;
  void update(std::string_view bytes) { XXH3_64bits_update(state_, bytes.data(), bytes.size()); }
  std::uint64_t digest() const { return XXH3_64bits_digest(state_); }

 private:
  XXH3_state_t* state_;
};

}  // namespace tarnwick
