// Content fingerprints of tensors: XXH3-64 over each tensor's own bytes, read from its file.
#pragma once

#include <cstdint>
#include <vector>

#include "main/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Fills `content_hash` of each selected tensor that has a byte range and no hash yet. Ranges are
// read in file order with large positioned reads, so a checkpoint is read once, front to back.
// `selected` is indexed like `table.tensors`; empty selects every tensor.
Status fill_content_hashes(TensorTable& table, const std::vector<bool>& selected = {});

}  // namespace tarnwick
