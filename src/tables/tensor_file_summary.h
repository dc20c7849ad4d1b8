// The summary of a tensor checkpoint (safetensors or GGUF) behind inspect, explain, diff, check
// and explain-diff: exact totals from the tensor table, metadata highlights, the architecture
// read from names and metadata, and three XXH3-64 fingerprints.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/artifact_pair.h"
#include "base/json_output.h"
#include "base/status.h"
#include "tables/architecture.h"
#include "tables/metadata_highlight.h"
#include "tables/tensor_table.h"

namespace tarnwick {

struct DtypeShare {
  std::string dtype;
  std::uint64_t tensors = 0;
  std::uint64_t parameters = 0;
  std::uint64_t bytes = 0;
};

// The format's part of a tensor checkpoint summary: how to read its table, what its metadata
// highlights and states about the architecture, and its names in reports.
// The attention head dims a checkpoint states for its keys and values, when it does.
struct HeadDims {
  std::optional<ArchitectureFigure> key, value;
};

struct TensorFileFormat {
  std::string_view name;       // the display name: "safetensors", "GGUF"
  std::string_view title;      // in report titles: "Safetensors", "GGUF"
  std::string_view json_type;  // "safetensors", "gguf": the summary is "<json_type>_summary"
  Result<TensorTable> (*read_table)(const std::string& path) = nullptr;
  std::vector<MetadataHighlight> (*highlights)(const Json& metadata) = nullptr;
  ArchitectureFacts (*stated_architecture)(const TensorTable& table) = nullptr;
  // A configuration kept beside the checkpoint (a Hugging Face config.json) as a JSON object;
  // null Json when there is none. Null pointer: the format keeps none.
  Json (*sidecar_config)(const TensorTable& table) = nullptr;
  // The operator types the model runs, from its metadata, for `check --fail-on-new-op`; null
  // when the format holds no operators.
  std::vector<std::string> (*operator_types)(const Json& metadata) = nullptr;
  // For language-model checkpoints (`profile`, `check --max-serving-memory`): the head dims the
  // file or its config states. Null: the format holds no such models.
  HeadDims (*head_dims)(const TensorTable& table) = nullptr;
};

// Keys of the sidecar config among the metadata keys that changed: "config.json <key>".
inline constexpr std::string_view kConfigKeyPrefix = "config.json ";

struct TensorFileSummary {
  const TensorFileFormat* format = nullptr;
  std::string path;
  std::string layout;               // "single file", "sharded, 3 files", "version 3"
  std::vector<std::string> files;   // every file of the checkpoint, the index first
  std::uint64_t file_size_bytes = 0;
  std::uint64_t parameter_count = 0;
  std::uint64_t tensor_bytes = 0;
  std::vector<DtypeShare> dtype_mix;  // most bytes first
  std::optional<std::string> dominant_dtype;
  std::vector<MetadataHighlight> highlights;
  Json metadata = Json::object();
  std::map<std::string, std::uint64_t> metadata_value_hashes;  // by key, over the stored value
  Json config;                                               // the sidecar config, or null
  std::map<std::string, std::uint64_t> config_value_hashes;  // by top-level key of the config
  std::vector<TensorEntry> tensors;  // file order, each with its content hash
  ArchitectureFacts architecture;
  std::uint64_t file_fingerprint = 0;
  std::uint64_t metadata_fingerprint = 0;
  std::uint64_t learned_state_fingerprint = 0;
};

// Reads the checkpoint `path` with `format`'s reader.
Result<TensorFileSummary> read_tensor_file_summary(const std::string& path, const TensorFileFormat& format);
// Both checkpoints of a pair command, old first, and the new one only when that worked.
Result<ArtifactPair<TensorFileSummary>> read_tensor_file_pair(const std::string& old_path, const std::string& new_path,
                                                             const TensorFileFormat& format);
std::vector<std::string> tensor_names(const TensorFileSummary& summary);
// Each tensor by its name; the first one where names repeat.
using TensorsByName = std::map<std::string_view, const TensorEntry*>;
TensorsByName tensors_by_name(const TensorFileSummary& summary);
OrderedJson tensor_file_summary_json(const TensorFileSummary& summary);

}  // namespace tarnwick
