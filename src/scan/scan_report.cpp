#include "scan/scan_report.h"

#include <string>

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

std::string shown(std::string_view text) { return escape_control(decode_utf8_lossy(text)); }

void print_file(std::ostream& out, const FileScan& file) {
  out << "\n" << shown(file.path) << "\n";
  out << "  format: " << file.format << "\n";
  out << "  verdict: " << file.verdict() << "\n";
  out << "  pickles scanned: " << file.pickles_scanned << "\n";
  out << "  imports:";
  if (file.imports.empty()) out << " none";
  out << "\n";
  for (const ScanImport& import : file.imports) {
    out << "    " << shown(import.module) << "." << shown(import.name) << "  " << import.verdict << "  x"
        << import.count << "\n";
  }
  out << "  findings:";
  if (file.findings.empty()) out << " none";
  out << "\n";
  for (const ScanFinding& finding : file.findings) out << "    " << finding.severity << ": " << shown(finding.message) << "\n";
}

}  // namespace

void print_scan_report(std::ostream& out, const std::vector<FileScan>& files) {
  std::uint64_t safe = 0, unsafe = 0, unscannable = 0;
  for (const FileScan& file : files) {
    std::string verdict = file.verdict();
    safe += verdict == "safe";
    unsafe += verdict == "unsafe";
    unscannable += verdict == "unscannable";
  }
  out << "Safety Scan\n-----------\n";
  out << "Files: " << files.size() << " (safe " << safe << ", unsafe " << unsafe << ", unscannable " << unscannable
      << ")\n";
  for (const FileScan& file : files) print_file(out, file);
}

OrderedJson scan_json(const std::vector<FileScan>& files) {
  OrderedJson document;
  document["kind"] = "scan";
  document["files"] = OrderedJson::array();
  for (const FileScan& file : files) {
    OrderedJson record;
    record["path"] = decode_utf8_lossy(file.path);
    record["format"] = file.format;
    record["verdict"] = file.verdict();
    record["imports"] = OrderedJson::array();
    for (const ScanImport& import : file.imports) {
      record["imports"].push_back({{"module", decode_utf8_lossy(import.module)},
                                   {"name", decode_utf8_lossy(import.name)},
                                   {"verdict", import.verdict},
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
