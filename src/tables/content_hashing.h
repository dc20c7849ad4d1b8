// Content fingerprints of tensors: XXH3-64 over each tensor's own bytes, read from its file.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Fills `content_hash` of each selected tensor that has a byte range and no hash yet, reading
// each file once, front to back, through a read-only mapping.
// `selected` is indexed like `table.tensors`; empty selects every tensor.
Status fill_content_hashes(TensorTable& table, const std::vector<bool>& selected = {});

// Fills the content hash of every tensor the files hold (as fill_content_hashes would) and
// returns XXH3-64 of the files' bytes, one after another: for a single file, what
// `xxhsum -H3` prints for it.
Result<std::uint64_t> hash_files_and_tensors(const std::vector<std::string>& files, TensorTable& table);

}  // namespace tarnwick
