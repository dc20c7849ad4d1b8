#include "base/file_scan.h"

#include <array>

namespace tarnwick::scan {

namespace {

constexpr std::array<std::string_view, 4> kGradeNames{"allowed", "framework", "unknown", "dangerous"};

}  // namespace

std::string_view grade_text(Grade grade) { return kGradeNames[static_cast<std::size_t>(grade)]; }

std::optional<Grade> parse_grade(std::string_view text) {
  for (std::size_t i = 0; i < kGradeNames.size(); ++i) {
    if (kGradeNames[i] == text) return static_cast<Grade>(i);
  }
  return std::nullopt;
}

}  // namespace tarnwick::scan
