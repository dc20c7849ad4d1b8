// A tensor's values, read from where the table says its bytes are (a file range through a
// shared mapping, bytes the reader decoded, or the elements of a strided view) and decoded a
// chunk at a time. Opening fails with the reason the values cannot be read.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/mapped_file.h"
#include "tables/tensor_table.h"
#include "values/value_codec.h"

namespace tarnwick {

// The files of one or two tables, each mapped once and shared by every reader of its tensors.
class MappedFiles {
 public:
  // A file that cannot be opened or mapped: that error.
  Result<const MappedFile*> get(const std::string& path);

 private:
  std::map<std::string, std::unique_ptr<MappedFile>> files_;
};

// Elements per chunk: a multiple of every block size, and small enough to stay in cache.
inline constexpr std::uint64_t kChunkElements = 8192;

class TensorValues {
 public:
  // Maps the tensor's file when it has one; call before starting threads.
  static Result<TensorValues> open(const TensorEntry& tensor, MappedFiles& files);

  std::uint64_t numel() const { return numel_; }
  // Decodes elements [first, first + count) into `out`; `first` is a multiple of kChunkElements
  // and count at most kChunkElements. `scratch` holds kChunkElements floats.
  void read(std::uint64_t first, std::uint64_t count, double* out, float* scratch) const;
  // The same elements as float32 or float64, whichever holds them exactly (see ValueCodec).
  ValueCodec::Run read_run(std::uint64_t first, std::uint64_t count, float* float_buffer, double* double_buffer) const;
  // Adds the same elements to `sums` straight from their stored blocks where the dtype allows
  // it; false when it does not (then `sums` is to be discarded).
  bool block_sums(std::uint64_t first, std::uint64_t count, ShiftedSums& sums) const;

 private:
  TensorValues(ValueCodec codec, std::uint64_t numel) : codec_(codec), numel_(numel) {}

  ValueCodec codec_;
  std::uint64_t numel_;
  std::string_view bytes_;
  std::shared_ptr<const std::string> owned_;  // gathered view elements or decoded fields
};

}  // namespace tarnwick
