// What serving a language-model checkpoint takes in memory: its weights, exactly, and the
// key/value cache its attention layers keep per token, from the architecture the file states
// or its tensors show. A figure the file leaves unknown is named, and no total is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "tables/architecture.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

struct ServingRequest {
  std::optional<std::uint64_t> context;  // tokens; absent: the context length the model states
  std::uint64_t batch = 1;
  std::string cache_dtype = "float16";
};

struct ServingMemory {
  std::string path;
  std::string format;
  std::uint64_t weights_bytes = 0;
  std::optional<ArchitectureFigure> layers, attention_heads, key_value_heads, key_dim, value_dim;
  bool key_value_heads_from_attention = false;  // none stated: as many as attention heads
  std::string cache_dtype;
  std::uint64_t batch = 1;
  std::optional<std::uint64_t> context;
  std::string context_source;  // "--context", or the metadata key that states it
  std::optional<std::uint64_t> kv_bytes_per_token;  // one sequence
  std::optional<std::uint64_t> kv_cache_bytes;      // context x batch
  std::optional<std::uint64_t> total_bytes;
  std::vector<std::string> unknown;  // the figures the totals need and the file does not give
};

// The cache types a server can keep (llama.cpp's among them), for messages and completion.
const std::vector<std::string>& serving_cache_dtypes();

Result<ServingMemory> serving_memory(const std::string& path, const TensorFileFormat& format,
                                     const ServingRequest& request);

}  // namespace tarnwick
