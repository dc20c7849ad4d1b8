#include "tables/strict_json.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/json_text.h"

namespace tarnwick {

Result<OrderedJson> parse_strict_json(std::string_view text) {
  std::vector<std::set<std::string>> open_objects;
  std::optional<std::string> duplicate;
  auto watch_keys = [&](int, OrderedJson::parse_event_t event, OrderedJson& parsed) {
    using Event = OrderedJson::parse_event_t;
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
