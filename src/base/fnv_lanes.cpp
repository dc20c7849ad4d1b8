#include "base/fnv_lanes.h"

#include <algorithm>
#include <cstring>

#include "base/format.h"

namespace tarnwick {

void FnvJob::add(std::string_view inline_bytes, std::string_view view) {
  Piece piece;
  piece.inline_length =
      static_cast<std::uint8_t>(std::min<std::size_t>(inline_bytes.size(), sizeof piece.inline_bytes));
  std::memcpy(piece.inline_bytes, inline_bytes.data(), piece.inline_length);
  piece.view = view;
  pieces_.push_back(piece);
  total_ += piece.inline_length + view.size();
}

std::uint64_t FnvJob::digest_alone() const {
  Fnv1a64 hash;
  for (const Piece& piece : pieces_) {
    hash.update(std::string_view(piece.inline_bytes, piece.inline_length));
    hash.update(piece.view);
  }
  return hash.digest();
}

namespace {

// One chain in progress: the job, where it stands, and the span of bytes it is working through.
struct Lane {
  const FnvJob* job = nullptr;
  std::size_t result = 0;
  std::size_t piece = 0;
  bool in_view = false;  // working through the piece's view rather than its inline bytes
  const unsigned char* bytes = nullptr;
  std::size_t left = 0;
  std::uint64_t hash = kFnvOffsetBasis;
};

}  // namespace

void hash_side_by_side(std::vector<FnvJob*>& jobs, std::vector<std::uint64_t>& digests) {
  digests.assign(jobs.size(), kFnvOffsetBasis);
  std::size_t next_job = 0;
  // Moves the lane to its next non-empty span; false when its job is done.
  auto advance = [&](Lane& lane) {
    while (lane.piece < lane.job->pieces_.size()) {
      const auto& piece = lane.job->pieces_[lane.piece];
      if (!lane.in_view) {
        lane.in_view = true;
        lane.bytes = reinterpret_cast<const unsigned char*>(piece.inline_bytes);
        lane.left = piece.inline_length;
      } else {
        lane.in_view = false;
        ++lane.piece;
        lane.bytes = reinterpret_cast<const unsigned char*>(piece.view.data());
        lane.left = piece.view.size();
      }
      if (lane.left > 0) return true;
    }
    return false;
  };
  // Gives the lane the next job with any bytes, finishing the lane's previous job first.
  auto refill = [&](Lane& lane) {
    while (true) {
      if (lane.job != nullptr) digests[lane.result] = lane.hash;
      lane.job = nullptr;
      if (next_job == jobs.size()) return false;
      lane = Lane{jobs[next_job], next_job, 0, false, nullptr, 0, kFnvOffsetBasis};
      ++next_job;
      if (advance(lane)) return true;
    }
  };
  constexpr std::size_t kLanes = 4;
  Lane lanes[kLanes];
  std::size_t active = 0;
  for (Lane& lane : lanes) active += refill(lane);
  while (active == kLanes) {
    std::size_t steps = lanes[0].left;
    for (const Lane& lane : lanes) steps = std::min(steps, lane.left);
    std::uint64_t h0 = lanes[0].hash, h1 = lanes[1].hash, h2 = lanes[2].hash, h3 = lanes[3].hash;
    const unsigned char *b0 = lanes[0].bytes, *b1 = lanes[1].bytes, *b2 = lanes[2].bytes, *b3 = lanes[3].bytes;
    for (std::size_t i = 0; i < steps; ++i) {
      h0 = (h0 ^ b0[i]) * kFnvPrime;
      h1 = (h1 ^ b1[i]) * kFnvPrime;
      h2 = (h2 ^ b2[i]) * kFnvPrime;
      h3 = (h3 ^ b3[i]) * kFnvPrime;
    }
    std::uint64_t hashes[kLanes] = {h0, h1, h2, h3};
    for (std::size_t k = 0; k < kLanes; ++k) {
      Lane& lane = lanes[k];
      lane.hash = hashes[k];
      lane.bytes += steps;
      lane.left -= steps;
      if (lane.left == 0 && !advance(lane) && !refill(lane)) --active;
    }
  }
  // Fewer jobs than lanes are left: finish them one at a time.
  for (Lane& lane : lanes) {
    while (lane.job != nullptr) {
      for (std::size_t i = 0; i < lane.left; ++i) lane.hash = (lane.hash ^ lane.bytes[i]) * kFnvPrime;
      lane.left = 0;
      if (!advance(lane)) refill(lane);
    }
  }
}

}  // namespace tarnwick
