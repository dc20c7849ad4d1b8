// Notes that say where a report's figure is not the exact one (an estimate stood in for it),
// rendered the same way in every report that shows the figure.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {

// One model's notes, each "  {note}" on its own line.
void print_note_lines(std::ostream& out, const std::vector<std::string>& notes);
// A pair's notes, each led by "Old model: " or "New model: ", old first.
std::vector<std::string> pair_notes(const std::vector<std::string>& old_notes, const std::vector<std::string>& new_notes);
// "\nNote:\n" and the lines, or nothing when there are none.
void print_note_section(std::ostream& out, const std::vector<std::string>& notes);

}  // namespace tarnwick
