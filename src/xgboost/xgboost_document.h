// The document of an XGBoost model, from either of the encodings `save_model` writes.
#pragma once

#include <string>
#include <string_view>

#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

// A UBJSON model starts with '{' and then a length marker or a container layout marker; a JSON
// model with '{' and then white space or a quote.
bool is_ubjson_model(std::string_view bytes);

// The value tree of the whole file: UBJSON or JSON, chosen by the bytes. Values are drawn from a
// budget proportional to the file's size and nest at most 512 deep; anything past that is
// refused as invalid, once, naming the file.
Result<Json> parse_xgboost_document(const std::string& path, std::string_view bytes);

}  // namespace tarnwick
