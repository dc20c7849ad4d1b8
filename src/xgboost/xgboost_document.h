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

// Events of a document that can start over: a JSON text the fast reader declines is read again
// from its start by nlohmann's parser.
class DocumentEvents : public Json::json_sax_t {
 public:
  // Forgets every event handed on so far.
  virtual void restart() = 0;
};

// Hands every value of the whole file to `events`, as nlohmann's SAX parser does: UBJSON or JSON,
// chosen by the bytes. Values are drawn from a budget proportional to the file's size and nest at
// most 512 deep; anything past that is refused as invalid, once, naming the file. A JSON model's
// words NaN, Infinity and -Infinity arrive as strings. Events handed on before a failure stay
// handed on.
Status stream_xgboost_document(const std::string& path, std::string_view bytes, DocumentEvents& events);

}  // namespace tarnwick
