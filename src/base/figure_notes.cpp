#include "base/figure_notes.h"

#include "base/text.h"

namespace tarnwick {

void print_note_lines(std::ostream& out, const std::vector<std::string>& notes) {
  for (const std::string& note : notes) out << "  " << escape_control(note) << "\n";
}

std::vector<std::string> pair_notes(const std::vector<std::string>& old_notes, const std::vector<std::string>& new_notes) {
  std::vector<std::string> notes;
  for (const std::string& note : old_notes) notes.push_back("Old model: " + note);
  for (const std::string& note : new_notes) notes.push_back("New model: " + note);
  return notes;
}

void print_note_section(std::ostream& out, const std::vector<std::string>& notes) {
  if (notes.empty()) return;
  out << "\nNote:\n";
  print_note_lines(out, notes);
}

}  // namespace tarnwick
