// JSON change entries shared by the diff documents: {old, new, delta?, changed}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/json_output.h"

namespace tarnwick {

Json count_change_json(std::optional<std::uint64_t> old_count, std::optional<std::uint64_t> new_count);
Json float_change_json(std::optional<double> old_value, std::optional<double> new_value);
Json text_change_json(const std::optional<std::string>& old_text, const std::optional<std::string>& new_text);
Json fingerprint_change_json(std::optional<std::uint64_t> old_fingerprint,
                             std::optional<std::uint64_t> new_fingerprint);

}  // namespace tarnwick
