// A fast reader of JSON text into SAX events, for the large models XGBoost writes: numbers
// straight from the text, no token copies. It reads the common case exactly as nlohmann's parser
// would and declines everything else (escapes in strings, numbers beyond 64 bits or double, a
// byte order mark, any syntax error), so the caller reads such a text again with nlohmann's
// parser, which then gives the same events or its own message.
#pragma once

#include <string_view>

#include "base/json_output.h"

namespace tarnwick {

// Hands the value that must span all of `text` to `events` (whose answers are not consulted).
// XGBoost's bare words NaN, Infinity and -Infinity arrive as strings, wherever a string may
// stand. Returns false, with some events already handed on, where it declines.
bool read_plain_json(std::string_view text, Json::json_sax_t& events);

}  // namespace tarnwick
