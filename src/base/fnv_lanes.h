// Many independent FNV-1a hashes computed side by side.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick {

// The bytes of one hash as a list of pieces; a piece is a short inline header (up to 13 bytes)
// followed by a view. The views must outlive the hashing.
class FnvJob {
 public:
  void add(std::string_view inline_bytes, std::string_view view);
  std::uint64_t total_bytes() const { return total_; }
  // The digest computed on its own, for small jobs.
  std::uint64_t digest_alone() const;

 private:
  friend void hash_side_by_side(std::vector<FnvJob*>& jobs, std::vector<std::uint64_t>& digests);
  struct Piece {
    char inline_bytes[13];
    std::uint8_t inline_length = 0;
    std::string_view view;
  };
  std::vector<Piece> pieces_;
  std::uint64_t total_ = 0;
};

// One FNV-1a chain waits on a multiply for every byte. Independent chains do not wait on each
// other, so running four of them in one loop hashes about four times the bytes in the same time.
// `digests[i]` receives the digest of `*jobs[i]`.
void hash_side_by_side(std::vector<FnvJob*>& jobs, std::vector<std::uint64_t>& digests);

}  // namespace tarnwick
