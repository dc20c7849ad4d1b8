// The summary behind the safetensors and GGUF reports: fingerprints read in one pass, sharded
// checkpoints, and what the learned-state fingerprint does and does not depend on.
#include "tables/tensor_file_summary.h"

#include <gtest/gtest.h>
#include <xxhash.h>

#include "../safetensors/safetensors_builder.h"
#include "gguf/gguf_format.h"
#include "safetensors/safetensors_format.h"
#include "tables/content_hashing.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

TensorFileSummary summary_of(const std::string& path) {
  const TensorFileFormat& format = path.ends_with(".gguf") ? kGgufCheckpoint : kSafetensorsCheckpoint;
  Result<TensorFileSummary> summary = read_tensor_file_summary(path, format);
  EXPECT_TRUE(summary.is_ok()) << summary.message();
  return summary.is_ok() ? summary.take() : TensorFileSummary{};
}

std::uint64_t xxh3(const std::string& bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

// Small, empty and large tensors (the large ones shared between two threads): each hash equals
// a direct hash of its bytes.
TEST(TensorFileSummary, OnePassHashesEqualDirectHashes) {
  constexpr std::size_t kMiB = 1u << 20;
  std::vector<SafetensorsTensor> tensors{{"small", "U8", {100}, counting_bytes(100, 1)},
                                         {"large", "U8", {40 * kMiB}, counting_bytes(40 * kMiB, 2)},
                                         {"empty", "U8", {0}, ""},
                                         {"larger", "U8", {41 * kMiB + 3}, counting_bytes(41 * kMiB + 3, 3)},
                                         {"last_empty", "U8", {0}, ""}};
  TempDir dir;
  std::string bytes = safetensors_file(tensors);
  std::string path = dir.write("big.safetensors", bytes);
  TensorFileSummary summary = summary_of(path);
  EXPECT_EQ(summary.file_fingerprint, xxh3(bytes));  // what `xxhsum -H3` prints
  ASSERT_EQ(summary.tensors.size(), tensors.size());
  for (std::size_t i = 0; i < tensors.size(); ++i) {
    SCOPED_TRACE(tensors[i].name);
    ASSERT_TRUE(summary.tensors[i].content_hash);
    EXPECT_EQ(*summary.tensors[i].content_hash, XXH3_64bits(tensors[i].bytes.data(), tensors[i].bytes.size()));
  }
}

TEST(TensorFileSummary, LearnedStateFollowsTensorsNotLayoutOrMetadata) {
  std::vector<SafetensorsTensor> tensors{{"a", "F32", {2}, counting_bytes(8, 1)}, {"b", "F16", {2, 1}, counting_bytes(4, 2)}};
  std::vector<SafetensorsTensor> reordered{tensors[1], tensors[0]};
  std::vector<SafetensorsTensor> reshaped = tensors;
  reshaped[1].shape = {1, 2};
  TempDir dir;
  TensorFileSummary base = summary_of(dir.write("base.safetensors", safetensors_file(tensors, {{"step", "1"}})));
  TensorFileSummary moved = summary_of(dir.write("moved.safetensors", safetensors_file(reordered, {{"step", "1"}})));
  TensorFileSummary noted = summary_of(dir.write("noted.safetensors", safetensors_file(tensors, {{"step", "2"}})));
  TensorFileSummary bent = summary_of(dir.write("bent.safetensors", safetensors_file(reshaped, {{"step", "1"}})));
  EXPECT_EQ(moved.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_NE(moved.file_fingerprint, base.file_fingerprint);
  EXPECT_EQ(noted.learned_state_fingerprint, base.learned_state_fingerprint);
  EXPECT_NE(noted.metadata_fingerprint, base.metadata_fingerprint);
  EXPECT_NE(bent.learned_state_fingerprint, base.learned_state_fingerprint);  // same bytes, new shape
  EXPECT_EQ(bent.metadata_fingerprint, base.metadata_fingerprint);
}

// An index and two shards: every file is counted and fingerprinted, index first.
TEST(TensorFileSummary, ShardedCheckpointCountsEveryFile) {
  TempDir dir;
  std::vector<SafetensorsTensor> a{{"a", "F32", {2}, counting_bytes(8)}}, b{{"b", "F32", {3}, counting_bytes(12)}};
  std::string first = safetensors_file(a), second = safetensors_file(b);
  std::string index = R"({"metadata":{"total_size":20},"weight_map":{"a":"part-1.safetensors","b":"part-2.safetensors"}})";
  dir.write("part-1.safetensors", first);
  dir.write("part-2.safetensors", second);
  std::string index_path = dir.write("model.safetensors.index.json", index);
  for (const std::string& path : {index_path, dir.path().string()}) {
    SCOPED_TRACE(path);
    TensorFileSummary summary = summary_of(path);
    EXPECT_EQ(summary.layout, "sharded, 2 shards");
    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_EQ(summary.files[0], index_path);
    EXPECT_EQ(summary.file_size_bytes, index.size() + first.size() + second.size());
    EXPECT_EQ(summary.file_fingerprint, xxh3(index + first + second));
    EXPECT_EQ(summary.parameter_count, 5u);
    EXPECT_EQ(summary.highlights.size(), 1u);  // total_size
  }
}

TEST(TensorFileSummary, EachReaderRefusesTheOtherKinds) {
  TempDir dir;
  std::string catboost = dir.write("m.cbm", "CBM1");
  EXPECT_FALSE(read_tensor_file_summary(catboost, kSafetensorsCheckpoint).is_ok());
  EXPECT_FALSE(read_tensor_file_summary(catboost, kGgufCheckpoint).is_ok());
}

}  // namespace
}  // namespace tarnwick::testing
