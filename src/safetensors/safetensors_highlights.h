// The metadata strings of a safetensors checkpoint, shown as they are.
#pragma once

#include <vector>

#include "base/json_output.h"
#include "tables/metadata_highlight.h"

namespace tarnwick {

std::vector<MetadataHighlight> safetensors_highlights(const Json& metadata);

}  // namespace tarnwick
