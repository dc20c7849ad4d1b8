#include "pickle/pickle_findings.h"

#include "pickle/import_policy.h"

namespace tarnwick::scan {

namespace {

void record_import(FileScan& scan, const ImportRecord& record, const std::string& where) {
  for (ScanImport& seen : scan.imports) {
    if (seen.module == record.module && seen.name == record.name) {
      ++seen.count;
      return;
    }
  }
  scan.imports.push_back({record.module, record.name, grade_import(record.module, record.name), 1, where, record.opcode});
}

void fold(const PickleTrace& trace, const std::string& where, FileScan& scan, bool with_unscannable) {
  ++scan.pickles_scanned;
  scan.steps += trace.steps;
  for (const ImportRecord& record : trace.imports) record_import(scan, record, where);
  for (const std::string& message : trace.unsafe) scan.add("dangerous", where + ": " + message);
  if (!with_unscannable) return;
  for (const std::string& message : trace.unscannable) scan.add("unscannable", where + ": " + message);
}

}  // namespace

PickleTrace scan_one_pickle(std::string_view bytes, std::uint64_t start, const std::string& where, FileScan& scan,
                            const ByteGaps& gaps) {
  PickleTrace trace = trace_pickle(bytes, start, gaps);
  fold(trace, where, scan, true);
  return trace;
}

void record_pickle_trace(const PickleTrace& trace, const std::string& where, FileScan& scan) {
  fold(trace, where, scan, true);
}

void scan_as_pickle_too(std::string_view bytes, const std::string& where, FileScan& scan) {
  PickleTrace trace = trace_plain_pickle_load(bytes);
  if (trace.imports.empty() && trace.unsafe.empty()) return;
  fold(trace, where, scan, false);
  scan.add("info", where + ": the bytes are also a pickle that imports or calls before its first invalid opcode");
}

}  // namespace tarnwick::scan
