// Tells a LightGBM text model from other text by its first bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnwick {

inline constexpr std::size_t kLightgbmProbeBytes = 8192;

// First line "tree" (trimmed) and "max_feature_idx=" within the first 8192 bytes.
bool looks_like_lightgbm_text(std::string_view bytes);

}  // namespace tarnwick
