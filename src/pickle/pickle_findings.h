// Folds what one pickle would import and call into a file's scan record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_scan.h"
#include "pickle/import_trace.h"

namespace tarnwick::scan {

// Traces the pickle at `start` and records its imports (graded, counted once per name), its
// calls of values that are no import ("dangerous") and why it could not be followed
// ("unscannable"); `where` names the pickle in each record.
PickleTrace scan_one_pickle(std::string_view bytes, std::uint64_t start, const std::string& where, FileScan& scan,
                            const ByteGaps& gaps = {});

// The same for a pickle already traced.
void record_pickle_trace(const PickleTrace& trace, const std::string& where, FileScan& scan);

// The bytes of a file of another kind, read from their start as torch.load (past its zip and tar
// tests) and pickle.load read any file: what they would import or call before failing is recorded
// under `where`; bytes that are no pickle add nothing.
void scan_as_pickle_too(std::string_view bytes, const std::string& where, FileScan& scan);

}  // namespace tarnwick::scan
