// The scan of pickle-based files: plain pickles, legacy torch.save files and zip checkpoints.
#pragma once

#include <string>
#include <string_view>

#include "descriptor/file_scan.h"

namespace tarnwick::scan {

// A zip checkpoint (every pickle entry), or a pickle stream read whole (a legacy torch file's
// five pickles, or one plain pickle).
void scan_pickle_based_file(const ScanInput& input, FileScan& scan);
// The pickle-based part on bytes already in memory.
void scan_pickle_file_bytes(std::string_view bytes, FileScan& scan);

}  // namespace tarnwick::scan
