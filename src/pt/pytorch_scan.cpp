// Pickle-based files: plain pickles, legacy torch.save files (five pickles) and zip checkpoints
// (every .pkl entry).
#include <memory>

#include "pickle/machine.h"
#include "pt/legacy_magic.h"
#include "base/positioned_file.h"
#include "pt/zip_directory.h"
#include "pt/import_policy.h"
#include "pickle/import_trace.h"
#include "pt/pytorch_scan.h"

namespace tarnwick::scan {

namespace {

constexpr std::uint64_t kLegacyPickles = 5;
constexpr std::uint64_t kLongestMagicPickle = 64;

void record_import(FileScan& scan, const ImportRecord& record, const std::string& where) {
  for (ScanImport& seen : scan.imports) {
    if (seen.module == record.module && seen.name == record.name) {
      ++seen.count;
      return;
    }
  }
  scan.imports.push_back({record.module, record.name, grade_import(record.module, record.name), 1, where, record.opcode});
}

// Follows one pickle and folds what it found into the file's scan.
PickleTrace scan_one(std::string_view bytes, std::uint64_t start, const std::string& where, FileScan& scan) {
  PickleTrace trace = trace_pickle(bytes, start);
  ++scan.pickles_scanned;
  scan.steps += trace.steps;
  for (const ImportRecord& record : trace.imports) record_import(scan, record, where);
  for (const std::string& message : trace.unsafe) scan.add("dangerous", where + ": " + message);
  for (const std::string& message : trace.unscannable) scan.add("unscannable", where + ": " + message);
  return trace;
}

bool holds_legacy_magic(std::string_view bytes, const PickleTrace& first) {
  if (!first.stopped || first.end > kLongestMagicPickle) return false;
  pickle::Machine machine;
  Result<pickle::ValueId> value = machine.run(bytes.substr(0, first.end));
  return value.is_ok() && is_legacy_magic(machine.at(value.value()));
}

}  // namespace

void scan_pickle_file_bytes(std::string_view bytes, FileScan& scan) {
  scan.format = "pickle";
  PickleTrace first = scan_one(bytes, 0, "pickle 1", scan);
  if (!holds_legacy_magic(bytes, first)) {
    for (ScanFinding& finding : scan.findings) {
      if (finding.message.starts_with("pickle 1")) finding.message.replace(0, 8, "the pickle");
    }
    for (ScanImport& import : scan.imports) {
      if (import.where == "pickle 1") import.where = "the pickle";
    }
    if (first.stopped && first.end < bytes.size()) {
      scan.add("info", std::to_string(bytes.size() - first.end) + " bytes after the pickle's STOP are not loaded");
    }
    return;
  }
  scan.format = "pytorch-legacy";
  std::uint64_t at = first.end;
  for (std::uint64_t index = 2; index <= kLegacyPickles; ++index) {
    PickleTrace trace = scan_one(bytes, at, "pickle " + std::to_string(index) + " of 5", scan);
    if (!trace.stopped) return;
    at = trace.end;
  }
}

namespace {

void scan_zip(const PositionedFile& file, FileScan& scan) {
  scan.format = "pytorch-zip";
  Result<std::vector<ZipEntry>> entries = read_zip_directory(file, scan.path);
  if (!entries.is_ok()) {
    scan.add("unscannable", entries.message());
    return;
  }
  std::uint64_t pickles = 0;
  for (const ZipEntry& entry : entries.value()) {
    if (!entry.name.ends_with(".pkl")) continue;
    ++pickles;
    if (entry.method != 0) {
      scan.add("unscannable", entry.name + " is compressed (method " + std::to_string(entry.method) +
                                  "); its pickle is not read without inflating it");
      continue;
    }
    if (entry.compressed_size != entry.uncompressed_size) {
      scan.add("unscannable", entry.name + " is stored with two different sizes");
      continue;
    }
    Result<std::uint64_t> start = zip_data_position(file, entry.local_header_offset);
    Result<std::string> bytes = start.is_ok() ? file.read_at(start.value(), entry.uncompressed_size)
                                              : Result<std::string>(start.error());
    if (!bytes.is_ok()) {
      scan.add("unscannable", entry.name + ": " + bytes.message());
      continue;
    }
    scan_one(bytes.value(), 0, entry.name, scan);
  }
  if (pickles == 0) scan.add("unscannable", "no pickle (.pkl) entry in the archive");
  if (pickles > 1) scan.add("info", std::to_string(pickles) + " pickle entries in the archive, all scanned");
}

}  // namespace

void scan_pickle_based_file(const ScanInput& input, FileScan& scan) {
  using Opened = Result<std::unique_ptr<PositionedFile>>;
  Opened opened = input.bytes ? Opened(std::make_unique<PositionedFile>(std::string(*input.bytes)))
                              : PositionedFile::open(input.path);
  if (!opened.is_ok()) return scan.add("unscannable", opened.message());
  const PositionedFile& file = *opened.value();
  Result<std::string> head = file.read_prefix(4);
  if (!head.is_ok()) return scan.add("unscannable", "read: " + head.message());
  if (head.value().starts_with("PK\x03\x04") || head.value().starts_with("PK\x05\x06")) return scan_zip(file, scan);
  Result<std::string> bytes = file.read_at(0, file.size());
  if (!bytes.is_ok()) {
    scan.format = "pickle";
    return scan.add("unscannable", "read: " + bytes.message());
  }
  scan_pickle_file_bytes(bytes.value(), scan);
}

}  // namespace tarnwick::scan
