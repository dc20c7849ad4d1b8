// What a PyTorch checkpoint shows without unpickling: storages, names, dtype, fingerprints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

// Field order is the key order of the record's own JSON form.
struct PyTorchSummary {
  std::string path;
  std::uint64_t bytes = 0;
  bool is_zip = false;
  std::uint64_t tensor_count = 0;
  std::uint64_t total_parameter_bytes = 0;
  std::uint64_t estimated_parameter_count = 0;
  std::optional<std::string> dominant_dtype;
  std::vector<std::string> param_names;
  std::optional<std::string> torch_version;
  std::uint64_t file_fingerprint = 0;
  std::uint64_t learned_state_fingerprint = 0;
  // Where the counts and names are the pickle-scan estimate rather than the decoded tensor
  // table's exact figures, why (one line each); empty when they are exact.
  std::vector<std::string> estimate_notes;
};

// Reads by position only: the zip tail, directory, pickle, version and at most 1 MiB per storage.
// The parameter count and names are then taken from the decoded tensor table (legacy files'
// storage count and bytes too); where the pickle cannot be decoded the scan's estimate stays.
Result<PyTorchSummary> read_pytorch_summary(const std::string& path);
// The summary as the container and pickle scans give it, without the tensor table.
Result<PyTorchSummary> scan_pytorch_summary(const std::string& path);

// What one name scan did: candidate headers checked and bytes the forward cursors stepped over.
struct NameScanWork {
  std::uint64_t candidates = 0;
  std::uint64_t cursor_steps = 0;
};
// Parameter-like strings of BINUNICODE / SHORT_BINUNICODE opcodes, first occurrence order.
std::vector<std::string> scan_param_names(std::string_view pickle, NameScanWork* work = nullptr);
// The most frequent storage class name: dtype name and element size (4 when none occurs).
std::pair<std::optional<std::string>, std::uint64_t> dominant_dtype(std::string_view pickle);

OrderedJson pytorch_summary_json(const PyTorchSummary& summary);

}  // namespace tarnwick
