// Shared wording of the change explanations: same/changed, name-set changes, size and verdict lines.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/artifact_pair.h"
#include "base/feature_name_changes.h"
#include "base/real_equality.h"
#include "base/status.h"

namespace tarnwick {

template <class T>
const char* same_or_changed(const std::optional<T>& a, const std::optional<T>& b) {
  return a == b ? "same" : "changed";
}
inline const char* same_or_changed(const std::optional<double>& a, const std::optional<double>& b) {
  return same_optional_real(a, b) ? "same" : "changed";
}
// "same set", "+{} added, -{} removed", or the kind's phrase when neither list has names.
std::string name_set_change(const std::vector<std::string>& old_names, const std::vector<std::string>& new_names,
                            const char* no_names_phrase);
// The summary's word for the feature names: "unknown" when neither list has names, "+{}/-{}"
// when names came or went, else "unchanged".
std::string feature_set_word(const FeatureNameChanges& changes, bool neither_has_names);
// The "    added:" / "    removed:" lists.
void print_name_set_lists(std::ostream& out, const FeatureNameChanges& changes);
void print_file_size_line(std::ostream& out, std::uint64_t old_bytes, std::uint64_t new_bytes);
std::string optional_real(const std::optional<double>& value);
void print_summary_frame_end(std::ostream& out, const std::string& verdict_line, const char* note);

// The tree models' lines.
void print_leaf_slot_growth(std::ostream& out, std::optional<std::uint64_t> old_slots,
                            std::optional<std::uint64_t> new_slots);
std::optional<std::string> depth_text(std::optional<std::int64_t> depth);
// "{label}{old} -> {new} ({same|changed})" with the values rendered as given.
template <class T>
void print_triple(std::ostream& out, const char* label, const std::string& old_text, const std::string& new_text,
                  const std::optional<T>& a, const std::optional<T>& b) {
  out << label << old_text << " -> " << new_text << " (" << same_or_changed(a, b) << ")\n";
}
void print_triple(std::ostream& out, const char* label, const std::optional<std::string>& a,
                  const std::optional<std::string>& b);
void print_triple(std::ostream& out, const char* label, const std::optional<double>& a,
                  const std::optional<double>& b);

// A kind's explain-diff sections; the command prints them inside the shared frame.
struct ChangeExplanation {
  std::string old_name;
  std::string new_name;
  std::function<void(std::ostream&)> print_sections;
};

// Keeps both summaries for the kind's explain-diff sections, named by `name`.
template <class Summary, class Name, class Sections>
ChangeExplanation explain_pair_change(ArtifactPair<Summary> pair, Name name, Sections sections) {
  auto models = std::make_shared<ArtifactPair<Summary>>(std::move(pair));
  return ChangeExplanation{name(models->old_model), name(models->new_model), [models, sections](std::ostream& out) {
                             sections(out, models->old_model, models->new_model);
                           }};
}

// Reads both summaries, old first, and keeps them for the kind's explain-diff sections.
template <class Summary, class Name, class Sections>
Result<ChangeExplanation> explain_summary_change(Result<Summary> (*read)(const std::string&), const std::string& old_path,
                                                 const std::string& new_path, Name name, Sections sections) {
  Result<ArtifactPair<Summary>> pair = read_artifact_pair(read, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  return explain_pair_change(pair.take(), name, sections);
}

}  // namespace tarnwick
