#include "scan/scan_policy.h"

#include <algorithm>

namespace tarnwick::scan {

namespace {

std::string_view trimmed(std::string_view text) {
  const char* space = " \t\r";
  std::size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

bool is_import_name(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.' || text.find('.') == std::string_view::npos) return false;
  if (text.find("..") != std::string_view::npos) return false;
  return std::none_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '#'; });
}

Status read_policy_lines(std::string_view text, const std::string& source, ScanPolicy& policy) {
  std::uint64_t number = 0;
  while (!text.empty()) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    std::string_view content = trimmed(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    std::size_t gap = content.find_first_of(" \t");
    std::string_view word = content.substr(0, gap);
    std::string_view name = gap == std::string_view::npos ? std::string_view() : trimmed(content.substr(gap));
    if ((word != "allow" && word != "deny") || !is_import_name(name)) {
      return fail(source + " line " + std::to_string(number) + ": expected `allow MODULE.NAME` or `deny MODULE.NAME`, got `" +
                  std::string(trimmed(line)) + "`");
    }
    (word == "allow" ? policy.allow : policy.deny).insert(std::string(name));
  }
  return Status::ok();
}

void apply_policy(const ScanPolicy& policy, FileScan& scan) {
  std::vector<ScanFinding> findings;
  for (ScanImport& import : scan.imports) {
    std::string full = import.module + "." + import.name;
    bool denied = policy.deny.contains(full);
    if (denied) {
      import.grade = Grade::kDangerous;
    } else if (policy.allow.contains(full)) {
      import.grade = Grade::kAllowed;
    }
    if (import.grade == Grade::kAllowed) continue;
    findings.push_back({std::string(grade_text(import.grade)),
                        import.where + " imports " + full + " (" + (denied ? "denied by the policy, " : "") + "through " +
                            import.opcode + ")"});
  }
  findings.insert(findings.end(), scan.findings.begin(), scan.findings.end());
  scan.findings = std::move(findings);
}

bool severity_fails(const ScanPolicy& policy, std::string_view severity) {
  if (severity == "unscannable") return true;
  std::optional<Grade> grade = parse_grade(severity);
  return grade && *grade >= policy.fail_on;
}

std::string file_verdict(const ScanPolicy& policy, const FileScan& scan) {
  bool unscannable = false;
  for (const ScanFinding& finding : scan.findings) {
    if (finding.severity == "unscannable") {
      unscannable = true;
    } else if (severity_fails(policy, finding.severity)) {
      return "unsafe";
    }
  }
  return unscannable ? "unscannable" : "safe";
}

}  // namespace tarnwick::scan
