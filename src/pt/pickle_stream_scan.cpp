// Pickle streams: a legacy torch.save file (five pickles, the first holding the magic number), a
// joblib pickle with its arrays' bytes in the stream, or one plain pickle.
#include <algorithm>

#include "pickle/joblib_arrays.h"
#include "pickle/machine.h"
#include "pickle/pickle_findings.h"
#include "pt/container_scan.h"
#include "pt/legacy_magic.h"

namespace tarnwick::scan {

namespace {

constexpr std::uint64_t kLegacyPickles = 5;

enum class LegacyMagic { kNo, kMaybe, kYes };

// Whether torch's legacy loader takes the first pickle for its magic number and goes on to run
// the next four: it compares the unpickled value, so any encoding of the number counts, and a
// call that could return it may.
LegacyMagic legacy_magic_in(std::string_view bytes, const PickleTrace& first) {
  if (!first.stopped || first.end >= bytes.size()) return LegacyMagic::kNo;  // nothing follows to be run
  pickle::Machine machine;
  Result<pickle::ValueId> value = machine.run(bytes.substr(0, first.end));
  if (!value.is_ok()) return LegacyMagic::kMaybe;
  const pickle::Value& root = machine.at(value.value());
  if (is_legacy_magic(root)) return LegacyMagic::kYes;
  return root.kind == pickle::Kind::kCall ? LegacyMagic::kMaybe : LegacyMagic::kNo;
}

bool uses_joblib_arrays(const PickleTrace& trace) {
  return std::any_of(trace.imports.begin(), trace.imports.end(),
                     [](const ImportRecord& record) { return names_joblib_array_wrapper(record.module, record.name); });
}

// joblib's pickle: the opcodes around the arrays, then each object array's own pickle.
void scan_joblib_stream(std::string_view bytes, const Place& place, FileScan& scan) {
  if (place.top()) scan.format = "joblib";
  Result<JoblibArrays> arrays = find_joblib_arrays(bytes, 0);
  if (!arrays.is_ok()) {
    scan_one_pickle(bytes, 0, place.where("the pickle"), scan);
    scan.add("unscannable", place.where("joblib arrays in the pickle cannot be followed: " + arrays.message()));
    return;
  }
  PickleTrace outer = scan_one_pickle(bytes, 0, place.where("the pickle"), scan, arrays.value().gaps);
  for (std::uint64_t start : arrays.value().object_pickles) {
    scan_one_pickle(bytes, start, place.where("object array pickle at offset " + std::to_string(start)), scan);
  }
  std::uint64_t arrays_read = arrays.value().gaps.size();
  scan.add("info", place.where(std::to_string(arrays_read) + " joblib array(s) read past in the stream"));
  if (outer.stopped && outer.end < bytes.size()) {
    scan.add("info", place.where(std::to_string(bytes.size() - outer.end) + " bytes after the pickle's STOP are not loaded"));
  }
}

}  // namespace

void scan_pickle_stream(std::string_view bytes, const Place& place, FileScan& scan) {
  if (place.top()) scan.format = "pickle";
  PickleTrace first = trace_pickle(bytes, 0);
  if (uses_joblib_arrays(first)) return scan_joblib_stream(bytes, place, scan);
  LegacyMagic magic = legacy_magic_in(bytes, first);
  if (magic == LegacyMagic::kNo) {
    record_pickle_trace(first, place.where("the pickle"), scan);
    if (first.stopped && first.end < bytes.size()) {
      scan.add("info", place.where(std::to_string(bytes.size() - first.end) + " bytes after the pickle's STOP are not loaded"));
    }
    return;
  }
  // The value may be the magic number only once the first pickle has run: what follows is scanned too.
  if (place.top()) scan.format = magic == LegacyMagic::kYes ? "pytorch-legacy" : "pickle";
  record_pickle_trace(first, place.where("pickle 1"), scan);
  std::uint64_t at = first.end;
  for (std::uint64_t index = 2; index <= kLegacyPickles; ++index) {
    PickleTrace trace = scan_one_pickle(bytes, at, place.where("pickle " + std::to_string(index) + " of 5"), scan);
    if (!trace.stopped) return;
    at = trace.end;
  }
}

}  // namespace tarnwick::scan
