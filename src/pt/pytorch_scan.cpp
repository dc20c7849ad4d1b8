// Pickle-based files: plain pickles, legacy torch.save files (five pickles) and zip checkpoints
// (every .pkl entry).
#include <algorithm>
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

enum class LegacyMagic { kNo, kMaybe, kYes };

// Whether torch's legacy loader takes the first pickle for its magic number and goes on to run
// the next four: it compares the unpickled value, so any encoding of the number counts, and a
// call that could return it may.
LegacyMagic legacy_magic_in(std::string_view bytes, const PickleTrace& first) {
  if (!first.stopped) return LegacyMagic::kNo;
  pickle::Machine machine;
  Result<pickle::ValueId> value = machine.run(bytes.substr(0, first.end));
  if (!value.is_ok()) return LegacyMagic::kMaybe;
  const pickle::Value& root = machine.at(value.value());
  if (is_legacy_magic(root)) return LegacyMagic::kYes;
  return root.kind == pickle::Kind::kCall ? LegacyMagic::kMaybe : LegacyMagic::kNo;
}
}  // namespace

void scan_pickle_file_bytes(std::string_view bytes, FileScan& scan) {
  scan.format = "pickle";
  PickleTrace first = scan_one(bytes, 0, "pickle 1", scan);
  LegacyMagic magic = legacy_magic_in(bytes, first);
  if (magic == LegacyMagic::kNo || (magic == LegacyMagic::kMaybe && first.end >= bytes.size())) {
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
  // The value may be the magic number only once the first pickle has run: what follows is scanned too.
  scan.format = magic == LegacyMagic::kYes ? "pytorch-legacy" : "pickle";
  std::uint64_t at = first.end;
  for (std::uint64_t index = 2; index <= kLegacyPickles; ++index) {
    PickleTrace trace = scan_one(bytes, at, "pickle " + std::to_string(index) + " of 5", scan);
    if (!trace.stopped) return;
    at = trace.end;
  }
}

namespace {

// torch finds its pickles by name without regard to case (miniz compares names that way).
bool names_a_pickle(std::string_view name) {
  if (name.size() < 4) return false;
  std::string ending(name.substr(name.size() - 4));
  for (char& c : ending) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ending == ".pkl";
}

bool same_entries(const std::vector<ZipEntry>& a, const std::vector<ZipEntry>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ZipEntry& x, const ZipEntry& y) {
    return x.name == y.name && x.method == y.method && x.compressed_size == y.compressed_size &&
           x.uncompressed_size == y.uncompressed_size && x.local_header_offset == y.local_header_offset;
  });
}

// The directory torch's loader reads. Where another reader of the same bytes (Python's zipfile,
// the rule of the summary) would find a different one, the archive shows two contents and
// nothing can be said of it.
Result<std::vector<ZipEntry>> loader_directory(const PositionedFile& file, const std::string& path) {
  Result<std::vector<ZipEntry>> loader = read_zip_directory(file, path, ZipDirectoryRule::kLoader);
  Result<std::vector<ZipEntry>> other = read_zip_directory(file, path, ZipDirectoryRule::kSummary);
  if (loader.is_ok() != other.is_ok() || (loader.is_ok() && !same_entries(loader.value(), other.value()))) {
    return fail("the archive's end records lead zip readers to different directories, so what loads is ambiguous");
  }
  return loader;
}

void scan_zip(const PositionedFile& file, FileScan& scan) {
  scan.format = "pytorch-zip";
  Result<std::vector<ZipEntry>> entries = loader_directory(file, scan.path);
  if (!entries.is_ok()) {
    scan.add("unscannable", entries.message());
    return;
  }
  std::uint64_t pickles = 0;
  for (const ZipEntry& entry : entries.value()) {
    if (!names_a_pickle(entry.name)) continue;
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
