#include "safetensors/sibling_config.h"

#include <filesystem>
#include <system_error>

#include "pt/positioned_file.h"
#include "tables/strict_json.h"

namespace tarnwick {

namespace fs = std::filesystem;

Json read_sibling_config(const std::string& checkpoint_path) {
  std::error_code error;
  fs::path checkpoint(checkpoint_path);
  fs::path directory = fs::is_directory(checkpoint, error) ? checkpoint : checkpoint.parent_path();
  fs::path config = directory / "config.json";
  // Only a regular file of known size: a pipe or device named config.json is not read at all.
  if (!fs::is_regular_file(config, error)) return Json();
  std::uintmax_t size = fs::file_size(config, error);
  if (error || size > kSiblingConfigCap) return Json();
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(config.string());
  if (!opened.is_ok() || opened.value()->size() > kSiblingConfigCap) return Json();
  Result<std::string> text = opened.value()->read_at(0, opened.value()->size());
  if (!text.is_ok()) return Json();
  Result<OrderedJson> parsed = parse_strict_json(text.value());
  if (!parsed.is_ok() || !parsed.value().is_object()) return Json();
  return Json(parsed.value());
}

}  // namespace tarnwick
