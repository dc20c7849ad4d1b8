#include "cbm/file_hashes.h"

#include <utility>

namespace tarnwick {

namespace {

constexpr std::size_t kOwnThreadFrom = 8u << 20;
constexpr std::size_t kBatchSpans = 4096;
constexpr std::size_t kBatchBytes = 1u << 20;  // a batch reaching this far goes at once: hashing should not wait
constexpr std::size_t kBatchesInFlight = 8;  // the walk waits beyond this, so memory stays bounded

}  // namespace

FileHashes::FileHashes(std::string_view bytes, const ThreadStarter& start) : bytes_(bytes) {
  if (bytes.size() < kOwnThreadFrom) return;
  worker_.emplace([this] { work(); }, start);
  if (!worker_->on_another_thread()) worker_.reset();  // no thread to be had: everything is hashed as it comes
}

FileHashes::~FileHashes() { stop_worker(); }

void FileHashes::object(std::size_t start, std::size_t end) {
  if (!worker_) {
    hash_span({start, end});
    return;
  }
  filling_.push_back({start, end});
  if (filling_.size() == kBatchSpans || end - filling_.front().start >= kBatchBytes) hand_over_batch();
}

FileHashes::Digests FileHashes::finish() {
  if (!filling_.empty() && worker_) hand_over_batch();
  stop_worker();
  Fnv1a64::update_both(whole_file_, around_objects_, bytes_.substr(hashed_to_));
  hashed_to_ = bytes_.size();
  return {whole_file_.digest(), around_objects_.digest()};
}

// The bytes before the span go into both hashes, the span's own into the whole file's.
void FileHashes::hash_span(Span span) {
  Fnv1a64::update_both(whole_file_, around_objects_, bytes_.substr(hashed_to_, span.start - hashed_to_));
  whole_file_.update(bytes_.substr(span.start, span.end - span.start));
  hashed_to_ = span.end;
}

void FileHashes::hand_over_batch() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return handed_over_.size() < kBatchesInFlight; });
  handed_over_.push_back(std::move(filling_));
  filling_.clear();
  changed_.notify_all();
}

void FileHashes::work() {
  for (;;) {
    std::vector<Span> batch;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !handed_over_.empty() || no_more_; });
      if (handed_over_.empty()) return;
      batch = std::move(handed_over_.front());
      handed_over_.pop_front();
      changed_.notify_all();
    }
    for (Span span : batch) hash_span(span);
  }
}

void FileHashes::stop_worker() {
  if (!worker_) return;
  {
    std::lock_guard lock(mutex_);
    no_more_ = true;
  }
  changed_.notify_all();
  worker_->join();
  worker_.reset();
}

}  // namespace tarnwick
