#include "scan/scan_report.h"

#include <string>

#include "base/program_version.h"
#include "base/text.h"

namespace tarnwick::scan {

std::string escape_control(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      const char* digits = "0123456789abcdef";
      out += "\\x";
      out += digits[byte >> 4];
      out += digits[byte & 15];
    } else {
      out.push_back(c);
    }
  }
  return out;
}

namespace {

constexpr Grade kGrades[] = {Grade::kAllowed, Grade::kFramework, Grade::kUnknown, Grade::kDangerous};

std::string shown(std::string_view text) { return escape_control(decode_utf8_lossy(text)); }

// "unknown, dangerous and unscannable" for the default level.
std::string failing_list(const ScanPolicy& policy) {
  std::string list;
  for (Grade grade : kGrades) {
    if (grade >= policy.fail_on && grade != Grade::kAllowed) list += std::string(grade_text(grade)) + ", ";
  }
  list.resize(list.size() - 2);
  return list + " and unscannable";
}

void print_file(std::ostream& out, const FileScan& file, const std::string& verdict) {
  out << "\n" << shown(file.path) << "\n";
  out << "  format: " << file.format << "\n";
  out << "  verdict: " << verdict << "\n";
  out << "  pickles scanned: " << file.pickles_scanned << "\n";
  out << "  imports:";
  if (file.imports.empty()) out << " none";
  out << "\n";
  for (const ScanImport& import : file.imports) {
    out << "    " << shown(import.module) << "." << shown(import.name) << "  " << grade_text(import.grade) << "  x"
        << import.count << "\n";
  }
  out << "  findings:";
  if (file.findings.empty()) out << " none";
  out << "\n";
  for (const ScanFinding& finding : file.findings) out << "    " << finding.severity << ": " << shown(finding.message) << "\n";
}

OrderedJson names_json(const std::set<std::string>& names) {
  OrderedJson list = OrderedJson::array();
  for (const std::string& name : names) list.push_back(decode_utf8_lossy(name));
  return list;
}

}  // namespace

ScanSummary summarise(const ScanRun& run) {
  ScanSummary summary;
  summary.files = run.files.size();
  for (std::size_t i = 0; i < run.files.size(); ++i) {
    const FileScan& file = run.files[i];
    summary.safe += run.verdicts[i] == "safe";
    summary.unsafe += run.verdicts[i] == "unsafe";
    summary.unscannable += run.verdicts[i] == "unscannable";
    summary.pickles += file.pickles_scanned;
    summary.imports += file.imports.size();
    for (const ScanImport& import : file.imports) ++summary.by_grade[static_cast<std::size_t>(import.grade)];
  }
  return summary;
}

void print_scan_report(std::ostream& out, const ScanRun& run) {
  ScanSummary summary = summarise(run);
  out << "Safety Scan\n-----------\n";
  out << "Files: " << summary.files << " (safe " << summary.safe << ", unsafe " << summary.unsafe << ", unscannable "
      << summary.unscannable << ")\n";
  out << "Pickles scanned: " << summary.pickles << "\n";
  out << "Imports: " << summary.imports << " (";
  for (Grade grade : kGrades) {
    out << (grade == Grade::kAllowed ? "" : ", ") << grade_text(grade) << " "
        << summary.by_grade[static_cast<std::size_t>(grade)];
  }
  out << ")\n";
  out << "Fails on: " << failing_list(run.policy) << "\n";
  for (std::size_t i = 0; i < run.files.size(); ++i) print_file(out, run.files[i], run.verdicts[i]);
}

OrderedJson scan_json(const ScanRun& run) {
  ScanSummary summary = summarise(run);
  OrderedJson document;
  document["kind"] = "scan";
  document["tool"] = {{"name", "tarnwick"}, {"version", std::string(program_version())}};
  document["policy"] = {{"fail_on", std::string(grade_text(run.policy.fail_on))},
                        {"allow", names_json(run.policy.allow)},
                        {"deny", names_json(run.policy.deny)}};
  OrderedJson by_grade;
  for (Grade grade : kGrades) by_grade[std::string(grade_text(grade))] = summary.by_grade[static_cast<std::size_t>(grade)];
  document["summary"] = {{"files", summary.files},
                         {"files_by_verdict",
                          {{"safe", summary.safe}, {"unsafe", summary.unsafe}, {"unscannable", summary.unscannable}}},
                         {"pickles", summary.pickles},
                         {"imports", summary.imports},
                         {"imports_by_verdict", by_grade}};
  document["files"] = OrderedJson::array();
  for (std::size_t i = 0; i < run.files.size(); ++i) {
    const FileScan& file = run.files[i];
    OrderedJson record;
    record["path"] = decode_utf8_lossy(file.path);
    record["format"] = file.format;
    record["verdict"] = run.verdicts[i];
    record["pickles"] = file.pickles_scanned;
    record["imports"] = OrderedJson::array();
    for (const ScanImport& import : file.imports) {
      record["imports"].push_back({{"module", decode_utf8_lossy(import.module)},
                                   {"name", decode_utf8_lossy(import.name)},
                                   {"verdict", std::string(grade_text(import.grade))},
                                   {"count", import.count}});
    }
    record["findings"] = OrderedJson::array();
    for (const ScanFinding& finding : file.findings) {
      record["findings"].push_back({{"severity", finding.severity}, {"message", decode_utf8_lossy(finding.message)}});
    }
    document["files"].push_back(std::move(record));
  }
  return document;
}

}  // namespace tarnwick::scan
