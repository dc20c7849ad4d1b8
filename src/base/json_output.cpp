#include "base/json_output.h"

#include <cmath>

#include "base/format.h"
#include "base/json_text.h"

namespace tarnwick {

namespace {

// Printing cannot fail: non-finite doubles print as null and invalid UTF-8 in a string (a file
// name, say) is replaced by U+FFFD.
template <class Document>
Status print_pretty(std::ostream& out, const Document& document) {
  write_pretty_json(out, document);
  out << "\n";
  return Status::ok();
}

}  // namespace

Status print_json_document(std::ostream& out, const Json& document) { return print_pretty(out, document); }

Status print_json_document(std::ostream& out, const OrderedJson& document) { return print_pretty(out, document); }

Status print_json_array(std::ostream& out, const std::vector<Json>& documents) {
  Json array = Json::array();
  for (const Json& document : documents) array.push_back(document);
  return print_pretty(out, array);
}

Json json_real(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return nullptr;
  return *value;
}

Json json_count(std::optional<std::uint64_t> value) {
  if (!value) return nullptr;
  return *value;
}

Json json_text(const std::optional<std::string>& value) {
  if (!value) return nullptr;
  return *value;
}

Json json_fingerprint(std::optional<std::uint64_t> fingerprint) {
  if (!fingerprint) return nullptr;
  return format_fingerprint(*fingerprint);
}

}  // namespace tarnwick
