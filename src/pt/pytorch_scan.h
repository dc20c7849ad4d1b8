// The scan of pickle-based files: plain pickles, legacy torch.save files and zip checkpoints.
#pragma once

#include <string>
#include <string_view>

#include "base/file_scan.h"

namespace tarnwick::scan {

// The file as every loader that takes any file would read it: containers (zip, tar, .npy,
// compressed streams) member by member, else the pickle stream. With `input.also`, the file is
// of another kind and only what pickle.load would run from its bytes is recorded.
void scan_pickle_based_file(const ScanInput& input, FileScan& scan);

}  // namespace tarnwick::scan
