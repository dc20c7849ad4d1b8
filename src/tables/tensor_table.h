// The tensor table: every tensor of a checkpoint, exactly, whatever format stored it.
// Each tensor reader (PyTorch, safetensors, GGUF, ONNX) fills it; every tensor report reads it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/json_output.h"

namespace tarnwick {

// A plain byte range holding a tensor's own bytes, little-endian, in element order.
struct TensorBytes {
  std::string file;  // the file that holds them (a shard of a sharded checkpoint, say)
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// A tensor stored as a strided view of a storage: its logical elements, in row-major order, are
// storage elements first_element + sum(index[i] * stride[i]).
struct StridedBytes {
  std::string file;
  std::uint64_t storage_start = 0;   // where the storage's bytes start in the file
  std::uint64_t storage_length = 0;  // its bytes
  std::uint64_t element_size = 0;
  std::uint64_t first_element = 0;   // the view's offset into the storage, in elements
  std::vector<std::uint64_t> shape;
  std::vector<std::int64_t> stride;  // in elements
};

struct TensorEntry {
  std::string name;
  std::string dtype;                  // a canonical dtype name, or "unknown(<code>)"
  std::vector<std::uint64_t> shape;   // GGUF in stored order
  std::uint64_t numel = 0;            // product of shape
  std::uint64_t bytes = 0;            // this tensor's own bytes
  std::optional<std::uint64_t> offset;   // where its data starts in the file, when it has one
  std::optional<std::string> storage;    // PyTorch storage key
  // Where to read the tensor's bytes for a content fingerprint; absent when they are not one
  // plain range (then `content_hash`, when the reader computed it itself, stands in).
  std::optional<TensorBytes> data;
  std::optional<std::uint64_t> content_hash;
  // The element bytes by another way when there is no plain range: a strided view of a
  // storage, or bytes the reader decoded itself (ONNX typed fields), little-endian.
  std::optional<StridedBytes> strided;
  std::shared_ptr<const std::string> element_bytes;
  // Why neither of the two is there (external data missing, say): the tensor's values cannot
  // be compared, and a diff says so rather than calling it unchanged.
  std::optional<std::string> unreadable_reason;
};

struct TensorTable {
  std::string path;
  std::string format;  // "pytorch-zip", "pytorch-legacy", "safetensors", "gguf", "onnx"
  bool dims_innermost_first = false;  // shapes as stored by ggml: the innermost dim first
  Json metadata = Json::object();
  std::vector<TensorEntry> tensors;  // file order
  // PyTorch only: distinct storages, so tied weights count once.
  std::optional<std::uint64_t> storage_count;
  std::optional<std::uint64_t> storage_bytes;
  // Where the metadata is stored as raw bytes (GGUF: the key/value section, and each value with
  // its type), so that a change inside an array that `metadata` only summarises is still seen.
  std::optional<TensorBytes> metadata_bytes;
  std::map<std::string, TensorBytes> metadata_value_bytes;
};

}  // namespace tarnwick
