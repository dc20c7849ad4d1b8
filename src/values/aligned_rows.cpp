#include "values/aligned_rows.h"

#include <algorithm>

#include "base/text.h"

namespace tarnwick {

namespace {

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

void print_aligned_rows(std::ostream& out, const std::vector<TextRow>& rows) {
  std::vector<std::size_t> widths;
  for (const TextRow& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], code_points(row[i]));
  }
  for (const TextRow& row : rows) {
    std::string line = "  " + (row.empty() ? std::string() : pad_right(row[0], widths[0]));
    for (std::size_t i = 1; i < row.size(); ++i) line += "  " + pad_left(row[i], widths[i]);
    out << line << "\n";
  }
}

}  // namespace tarnwick
