#include "safetensors/safetensors_highlights.h"

namespace tarnwick {

std::vector<MetadataHighlight> safetensors_highlights(const Json& metadata) {
  std::vector<MetadataHighlight> highlights;
  for (const auto& [key, value] : metadata.items()) {
    // A file's `__metadata__` holds strings; an index's metadata may hold numbers (total_size).
    std::string text = value.is_string() ? value.get<std::string>()
                                         : value.dump(-1, ' ', false, Json::error_handler_t::replace);
    highlights.push_back({key, key, std::move(text)});
  }
  return highlights;
}

}  // namespace tarnwick
