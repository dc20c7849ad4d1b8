// The two byte fingerprints of a CatBoost file: every byte, and the bytes around its embedded objects.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"

namespace tarnwick {

// Objects are handed over in order as the walk finds them. A large file is hashed on another
// thread meanwhile, the objects passing over in batches, so that hashing and walking overlap.
class FileHashes {
 public:
  struct Digests {
    std::uint64_t whole_file = 0;
    std::uint64_t around_objects = 0;
  };

  explicit FileHashes(std::string_view bytes, const ThreadStarter& start = start_thread);
  ~FileHashes();
  FileHashes(const FileHashes&) = delete;
  FileHashes& operator=(const FileHashes&) = delete;

  // The next object's span; spans come ascending and disjoint.
  void object(std::size_t start, std::size_t end);
  // Hashes the bytes after the last object and hands back both digests.
  Digests finish();

 private:
  struct Span {
    std::size_t start, end;
  };

  void hash_span(Span span);
  void hand_over_batch();
  void work();
  void stop_worker();

  std::string_view bytes_;
  Fnv1a64 whole_file_, around_objects_;
  std::size_t hashed_to_ = 0;

  std::vector<Span> filling_;
  std::deque<std::vector<Span>> handed_over_;
  bool no_more_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<ParallelTask<void>> worker_;  // only while a thread of its own hashes
};

}  // namespace tarnwick
