// What a GGUF file's metadata states about its network: `general.architecture` and the
// `<architecture>.*` size keys, and the tokenizer's token count.
#pragma once

#include "tables/architecture.h"
#include "tables/tensor_file_summary.h"
#include "tables/tensor_table.h"

namespace tarnwick {

ArchitectureFacts gguf_stated_architecture(const TensorTable& table);
// `<architecture>.attention.key_length` and `.value_length`, when stated.
HeadDims gguf_head_dims(const TensorTable& table);

}  // namespace tarnwick
