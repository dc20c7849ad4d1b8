#include "onnx/external_tensor_bytes.h"

#include <system_error>

#include "base/json_text.h"
#include "base/number_parse.h"
#include "onnx/external_data.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

struct ExternalKeys {
  std::optional<std::string> location, offset, length;
};

ExternalKeys external_keys(const std::vector<std::pair<std::string, std::string>>& entries) {
  ExternalKeys keys;
  for (const auto& [key, value] : entries) {
    if (key == "location") keys.location = value;
    if (key == "offset") keys.offset = value;
    if (key == "length") keys.length = value;
  }
  return keys;
}

ExternalTensorBytes problem(std::string text) { return {std::nullopt, std::move(text)}; }

// A decimal byte count, or the problem with it.
std::optional<std::string> parse_count(const std::optional<std::string>& text, std::string_view key,
                                       std::optional<std::uint64_t>& value) {
  if (!text) return std::nullopt;
  Result<std::uint64_t> parsed = parse_unsigned(*text);
  if (!parsed.is_ok()) return "external data " + std::string(key) + " " + json_quoted(*text) + " is not a byte count";
  value = parsed.value();
  return std::nullopt;
}

}  // namespace

ExternalTensorBytes locate_external_bytes(const fs::path& model_dir,
                                          const std::vector<std::pair<std::string, std::string>>& entries,
                                          std::optional<std::uint64_t> own_bytes) {
  ExternalKeys keys = external_keys(entries);
  if (!keys.location || keys.location->empty()) return problem("external data without a location");
  const std::string& location = *keys.location;
  if (location_is_absolute(location)) return problem("external data location " + json_quoted(location) + " is an absolute path");
  if (location_escapes(model_dir, location)) {
    return problem("external data location " + json_quoted(location) + " leads outside the model's folder");
  }
  std::optional<std::uint64_t> offset, length;
  if (std::optional<std::string> bad = parse_count(keys.offset, "offset", offset)) return problem(*bad);
  if (std::optional<std::string> bad = parse_count(keys.length, "length", length)) return problem(*bad);
  if (length && own_bytes && *length != *own_bytes) {
    return problem("external data length " + std::to_string(*length) + " differs from the tensor's " +
                   std::to_string(*own_bytes) + " bytes");
  }
  fs::path file = model_dir / fs::path(location);
  std::error_code error;
  if (!fs::exists(file, error)) return problem("external data file " + json_quoted(location) + " not found");
  if (!fs::is_regular_file(file, error)) {
    return problem("external data location " + json_quoted(location) + " is not a regular file");
  }
  std::uint64_t file_size = fs::file_size(file, error);
  if (error) return problem("external data file " + json_quoted(location) + ": " + error.message());
  std::uint64_t start = offset.value_or(0);
  if (start > file_size) {
    return problem("external data file " + json_quoted(location) + " holds " + std::to_string(file_size) +
                   " bytes, fewer than the offset " + std::to_string(start));
  }
  std::uint64_t size = length ? *length : own_bytes.value_or(file_size - start);
  if (size > file_size - start) {
    return problem("external data file " + json_quoted(location) + " holds " + std::to_string(file_size) +
                   " bytes; the tensor needs " + std::to_string(size) + " from offset " + std::to_string(start));
  }
  return {TensorBytes{file.string(), start, size}, ""};
}

}  // namespace tarnwick
