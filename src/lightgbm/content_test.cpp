#include "lightgbm/content_test.h"

#include <string>

#include "base/text.h"

namespace tarnwick {

bool looks_like_lightgbm_text(std::string_view bytes) {
  std::string text = decode_utf8_lossy(bytes.substr(0, kLightgbmProbeBytes));
  std::string_view first_line = text;
  first_line = first_line.substr(0, first_line.find('\n'));
  if (first_line.ends_with('\r')) first_line.remove_suffix(1);
  return trim(first_line) == "tree" && text.find("max_feature_idx=") != std::string::npos;
}

}  // namespace tarnwick
