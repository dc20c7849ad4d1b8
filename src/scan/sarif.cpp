#include "scan/sarif.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "base/file_read.h"
#include "base/program_version.h"
#include "base/text.h"

namespace tarnwick::scan {

namespace {

struct Rule {
  std::string_view id;
  std::string_view name;
  std::string_view description;
};

constexpr Rule kRules[] = {
    {"dangerous", "DangerousContent",
     "Loading the file would run code, start a process, open files or the network, or reach the import machinery."},
    {"unknown", "UnknownImport", "Loading the file would import a name outside the known sets."},
    {"framework", "FrameworkImport",
     "Loading the file would construct framework classes (modules, containers, arrays) a whole-model save names."},
    {"unscannable", "Unscannable", "The file could not be checked completely."},
    {"info", "Information", "Something worth knowing about the file that changes no verdict."},
};

// "error" for what fails under the policy; otherwise a warning for unknown names and a note for
// the rest.
std::string_view level_of(const ScanPolicy& policy, std::string_view severity) {
  if (severity_fails(policy, severity)) return "error";
  return severity == "unknown" ? "warning" : "note";
}

}  // namespace

std::string path_uri(std::string_view path) {
  std::string uri = path.starts_with('/') ? "file://" : "";
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                 c == '_' || c == '~' || c == '/';
    if (plain) {
      uri.push_back(c);
    } else {
      const char* digits = "0123456789ABCDEF";
      uri += '%';
      uri += digits[byte >> 4];
      uri += digits[byte & 15];
    }
  }
  return uri;
}

OrderedJson scan_sarif(const ScanRun& run) {
  OrderedJson rules = OrderedJson::array();
  for (const Rule& rule : kRules) {
    rules.push_back({{"id", std::string(rule.id)},
                     {"name", std::string(rule.name)},
                     {"shortDescription", {{"text", std::string(rule.description)}}},
                     {"defaultConfiguration", {{"level", std::string(level_of(run.policy, rule.id))}}}});
  }
  OrderedJson results = OrderedJson::array();
  for (const FileScan& file : run.files) {
    for (const ScanFinding& finding : file.findings) {
      std::size_t index = 0;
      while (index + 1 < std::size(kRules) && kRules[index].id != finding.severity) ++index;
      OrderedJson location = {{"physicalLocation", {{"artifactLocation", {{"uri", path_uri(file.path)}}}}}};
      results.push_back({{"ruleId", std::string(kRules[index].id)},
                         {"ruleIndex", index},
                         {"level", std::string(level_of(run.policy, finding.severity))},
                         {"message", {{"text", decode_utf8_lossy(finding.message)}}},
                         {"locations", OrderedJson::array({location})}});
    }
  }
  OrderedJson driver = {{"name", "tarnwick"}, {"version", std::string(program_version())}, {"rules", rules}};
  OrderedJson document;
  document["$schema"] = "https://json.schemastore.org/sarif-2.1.0.json";
  document["version"] = "2.1.0";
  OrderedJson scan_run;
  scan_run["tool"] = {{"driver", driver}};
  scan_run["results"] = results;
  document["runs"] = OrderedJson::array({scan_run});
  return document;
}

Status write_sarif_file(const std::string& path, const OrderedJson& document) {
  std::ostringstream text;
  if (Status printed = print_json_document(text, document); !printed.is_ok()) return printed;
  std::string bytes = text.str();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("write " + path + ": " + os_error_text(errno));
  std::size_t written = 0;
  while (written < bytes.size()) {
    ssize_t got = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int error = errno;
      ::close(fd);
      return fail("write " + path + ": " + os_error_text(error));
    }
    written += static_cast<std::size_t>(got);
  }
  if (::close(fd) != 0) return fail("write " + path + ": " + os_error_text(errno));
  return Status::ok();
}

}  // namespace tarnwick::scan
