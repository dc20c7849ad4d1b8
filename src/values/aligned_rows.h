// The value tables of the reports: the first column left-aligned, the figures right-aligned,
// two spaces between columns, each line indented by two.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {

using TextRow = std::vector<std::string>;

// Significant digits of every real figure in the value tables.
inline constexpr int kFigureDigits = 6;

void print_aligned_rows(std::ostream& out, const std::vector<TextRow>& rows);

}  // namespace tarnwick
