// A metadata value worth showing first, under a readable label.
#pragma once

#include <string>

namespace tarnwick {

struct MetadataHighlight {
  std::string label;
  std::string key;
  std::string text;  // as the file states it; reports escape control characters
};

}  // namespace tarnwick
