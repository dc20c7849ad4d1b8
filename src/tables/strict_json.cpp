#include "tables/strict_json.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/json_text.h"

namespace tarnwick {

Result<OrderedJson> parse_strict_json(std::string_view text) {
  DecodeBudget budget(text.size());
  return parse_strict_json(text, budget);
}

Result<OrderedJson> parse_strict_json(std::string_view text, DecodeBudget& budget) {
  std::vector<std::set<std::string>> open_objects;
  std::optional<std::string> duplicate;
  std::optional<std::string> refused;
  std::size_t depth = 0;
  // Returning false drops the value being built; the parser still reads past it.
  auto watch_keys = [&](int, OrderedJson::parse_event_t event, OrderedJson& parsed) {
    using Event = OrderedJson::parse_event_t;
    if (refused) return false;
    if (event == Event::object_start || event == Event::array_start) {
      if (++depth > DecodeBudget::kMaxValueNesting) {
        refused = "values nested deeper than " + std::to_string(DecodeBudget::kMaxValueNesting) + " levels";
        return false;
      }
    }
    if (event == Event::object_end || event == Event::array_end) --depth;
    if (event == Event::object_start || event == Event::array_start || event == Event::key || event == Event::value) {
      Status drawn = budget.draw(1, "JSON values");
      if (!drawn.is_ok()) {
        refused = drawn.message();
        return false;
      }
    }
    if (event == Event::object_start) open_objects.emplace_back();
    if (event == Event::object_end && !open_objects.empty()) open_objects.pop_back();
    if (event == Event::key && !open_objects.empty() && !duplicate) {
      const std::string& key = parsed.get_ref<const std::string&>();
      if (!open_objects.back().insert(key).second) duplicate = key;
    }
    return true;
  };
  try {
    OrderedJson document = OrderedJson::parse(text, watch_keys);
    if (refused) return fail("invalid JSON: " + *refused);
    if (duplicate) return fail("duplicate key " + json_quoted(*duplicate));
    return document;
  } catch (const OrderedJson::exception& error) {
    // Drop the library's "[json.exception.parse_error.101] " tag.
    std::string_view message = error.what();
    if (std::size_t tag_end = message.find("] "); tag_end != std::string_view::npos) message.remove_prefix(tag_end + 2);
    return fail("invalid JSON: " + std::string(message));
  }
}

}  // namespace tarnwick
