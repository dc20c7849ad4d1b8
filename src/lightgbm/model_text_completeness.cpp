#include "lightgbm/model_text_completeness.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>


namespace tarnwick {

namespace {

struct Line {
  std::string_view text;  // without the line end
  std::size_t start = 0;  // byte offset of the line in the model text
};

std::vector<Line> lines_of(std::string_view text) {
  std::vector<Line> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t newline = text.find('\n', at);
    std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    std::string_view line = text.substr(at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back({line, at});
    at = newline == std::string_view::npos ? text.size() : newline + 1;
  }
  return lines;
}

std::optional<std::size_t> find_line(const std::vector<Line>& lines, std::string_view wanted, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].text == wanted) return i;
  }
  return std::nullopt;
}

Error cut_short(const std::string& path, const std::string& why) {
  return fail(path + ": the LightGBM model text is cut short: " + why);
}

}  // namespace

Status check_model_text_complete(const std::string& path, std::string_view text) {
  std::vector<Line> lines = lines_of(text);
  std::optional<std::size_t> end_of_trees = find_line(lines, "end of trees");
  if (!end_of_trees) return cut_short(path, "no \"end of trees\" line");
  if (std::optional<std::size_t> parameters = find_line(lines, "parameters:", *end_of_trees)) {
    if (!find_line(lines, "end of parameters", *parameters)) return cut_short(path, "no \"end of parameters\" line");
  }
  for (std::size_t i = *end_of_trees; i < lines.size(); ++i) {
    std::string_view line = lines[i].text;
    if (!line.starts_with("pandas_categorical:")) continue;
    line.remove_prefix(19);
    if (!nlohmann::json::accept(line)) return cut_short(path, "the pandas_categorical line is not whole JSON");
  }
  return Status::ok();
}

}  // namespace tarnwick
