#include "base/change_json.h"

#include "base/json_text.h"
#include "base/real_equality.h"

namespace tarnwick {

namespace {

// new - old as an exact integer, even below the signed 64-bit range.
Json exact_difference(std::uint64_t old_count, std::uint64_t new_count) {
  if (new_count >= old_count) return new_count - old_count;
  return json_signed_magnitude(true, old_count - new_count);
}

}  // namespace

Json count_change_json(std::optional<std::uint64_t> old_count, std::optional<std::uint64_t> new_count) {
  Json entry;
  entry["old"] = json_count(old_count);
  entry["new"] = json_count(new_count);
  entry["delta"] = old_count && new_count ? exact_difference(*old_count, *new_count) : Json(nullptr);
  entry["changed"] = old_count != new_count;
  return entry;
}

Json float_change_json(std::optional<double> old_value, std::optional<double> new_value) {
  Json entry;
  entry["old"] = json_real(old_value);
  entry["new"] = json_real(new_value);
  entry["delta"] = old_value && new_value ? json_real(*new_value - *old_value) : Json(nullptr);
  entry["changed"] = !same_optional_real(old_value, new_value);
  return entry;
}

Json text_change_json(const std::optional<std::string>& old_text, const std::optional<std::string>& new_text) {
  Json entry;
  entry["old"] = json_text(old_text);
  entry["new"] = json_text(new_text);
  entry["changed"] = old_text != new_text;
  return entry;
}

Json fingerprint_change_json(std::optional<std::uint64_t> old_fingerprint,
                             std::optional<std::uint64_t> new_fingerprint) {
  Json entry;
  entry["old"] = json_fingerprint(old_fingerprint);
  entry["new"] = json_fingerprint(new_fingerprint);
  entry["changed"] = old_fingerprint != new_fingerprint;
  return entry;
}

}  // namespace tarnwick
