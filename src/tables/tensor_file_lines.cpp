#include "tables/tensor_file_lines.h"

#include <algorithm>

#include "base/format.h"
#include "base/text.h"

namespace tarnwick {

std::string tensor_file_kind_title(const TensorFileSummary& summary) {
  return std::string(summary.format->title);
}

namespace {

std::string share_of(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "0%";
  return format_fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 0) + "%";
}

}  // namespace

std::string dominant_dtype_text(const TensorFileSummary& summary) {
  if (summary.dtype_mix.empty()) return "unknown";
  const DtypeShare& top = summary.dtype_mix.front();
  return escape_control(top.dtype) + " (" + share_of(top.bytes, summary.tensor_bytes) + " of tensor bytes)";
}

void print_dtype_mix(std::ostream& out, const TensorFileSummary& summary) {
  out << "\nDtype Mix:\n";
  if (summary.dtype_mix.empty()) out << "  none\n";
  std::size_t width = 0;
  for (const DtypeShare& share : summary.dtype_mix) width = std::max(width, escape_control(share.dtype).size());
  for (const DtypeShare& share : summary.dtype_mix) {
    out << "  " << pad_right(escape_control(share.dtype) + ":", width + 1) << " " << share.tensors
        << (share.tensors == 1 ? " tensor, " : " tensors, ") << format_count_short(share.parameters) << " parameters, "
        << format_bytes(share.bytes) << " (" << share_of(share.bytes, summary.tensor_bytes) << ")\n";
  }
}

void print_highlights(std::ostream& out, const TensorFileSummary& summary) {
  out << "\nMetadata Highlights:\n";
  if (summary.highlights.empty()) out << "  none\n";
  std::size_t width = 0;
  for (const MetadataHighlight& highlight : summary.highlights) {
    width = std::max(width, escape_control(highlight.label).size());
  }
  for (const MetadataHighlight& highlight : summary.highlights) {
    out << "  " << pad_right(escape_control(highlight.label) + ":", width + 1) << " " << escape_control(highlight.text)
        << "\n";
  }
}

}  // namespace tarnwick
