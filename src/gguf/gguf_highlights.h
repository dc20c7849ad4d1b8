// The GGUF metadata a reader wants first: architecture, sizes, head counts, file type.
#pragma once

#include <vector>

#include "base/json_output.h"
#include "tables/metadata_highlight.h"

namespace tarnwick {

std::vector<MetadataHighlight> gguf_highlights(const Json& metadata);
// llama.cpp's `general.file_type` codes: "MOSTLY_Q4_K_M (15)", or "unknown(<code>)".
std::string gguf_file_type_text(std::uint64_t code);

}  // namespace tarnwick
