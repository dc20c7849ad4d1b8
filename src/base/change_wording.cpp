#include "base/change_wording.h"

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"

namespace tarnwick {

std::string name_set_change(const std::vector<std::string>& old_names, const std::vector<std::string>& new_names,
                            const char* no_names_phrase) {
  if (old_names.empty() && new_names.empty()) return no_names_phrase;
  FeatureNameChanges changes = feature_name_changes(old_names, new_names);
  if (changes.added.empty() && changes.removed.empty()) return "same set";
  return "+" + std::to_string(changes.added.size()) + " added, -" + std::to_string(changes.removed.size()) + " removed";
}

std::string feature_set_word(const FeatureNameChanges& changes, bool neither_has_names) {
  if (neither_has_names) return "unknown";
  if (changes.added.empty() && changes.removed.empty()) return "unchanged";
  return "+" + std::to_string(changes.added.size()) + "/-" + std::to_string(changes.removed.size());
}

void print_name_set_lists(std::ostream& out, const FeatureNameChanges& changes) {
  print_name_list(out, "    added:  ", changes.added);
  print_name_list(out, "    removed:", changes.removed);
}

void print_file_size_line(std::ostream& out, std::uint64_t old_bytes, std::uint64_t new_bytes) {
  out << "File size: " << format_bytes(old_bytes) << " -> " << format_bytes(new_bytes) << " ("
      << format_percent_change(old_bytes, new_bytes) << ")\n";
}

std::string optional_real(const std::optional<double>& value) { return value ? format_real(*value) : "unknown"; }

void print_summary_frame_end(std::ostream& out, const std::string& verdict_line, const char* note) {
  out << "\nSummary:\n" << verdict_line << "\n" << note;
}

void print_leaf_slot_growth(std::ostream& out, std::optional<std::uint64_t> old_slots,
                            std::optional<std::uint64_t> new_slots) {
  out << "Estimated leaf-slot growth: "
      << (old_slots && new_slots ? format_percent_change(*old_slots, *new_slots) : "unknown") << "\n";
}

std::optional<std::string> depth_text(std::optional<std::int64_t> depth) {
  if (!depth) return std::nullopt;
  return format_max_depth(*depth);
}

void print_triple(std::ostream& out, const char* label, const std::optional<std::string>& a,
                  const std::optional<std::string>& b) {
  print_triple(out, label, escape_control(optional_text_or_unknown(a)), escape_control(optional_text_or_unknown(b)), a,
               b);
}

void print_triple(std::ostream& out, const char* label, const std::optional<double>& a,
                  const std::optional<double>& b) {
  print_triple(out, label, optional_real(a), optional_real(b), a, b);
}

}  // namespace tarnwick
