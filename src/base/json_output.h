// One JSON document per command: built in memory, printed with a two-space indent in pieces.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/status.h"

namespace tarnwick {

using Json = nlohmann::json;                 // value trees: keys in byte order
using OrderedJson = nlohmann::ordered_json;  // documents written straight from records

Status print_json_document(std::ostream& out, const Json& document);
Status print_json_document(std::ostream& out, const OrderedJson& document);
Status print_json_array(std::ostream& out, const std::vector<Json>& documents);

// Non-finite doubles become null; absent values become null.
Json json_real(std::optional<double> value);
Json json_count(std::optional<std::uint64_t> value);
Json json_text(const std::optional<std::string>& value);
Json json_fingerprint(std::optional<std::uint64_t> fingerprint);

// For records written in field order: the value, or null when absent.
template <class T>
OrderedJson ordered_optional(const std::optional<T>& value) {
  if (!value) return nullptr;
  return *value;
}

}  // namespace tarnwick
