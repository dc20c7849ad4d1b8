#include "pt/pickle_format.h"

#include "pt/pytorch_scan.h"

namespace tarnwick {

namespace {

// A pickle from protocol 2 on opens with 0x80 and is claimed by the PyTorch format, as torch.load
// would read it; numpy's arrays are the NumPy format's. What else the pickle loaders open by
// its first bytes: the compressed streams joblib recognises (its zlib and lzma-alone signatures
// are too short to claim a file by; their names bring them).
bool unpickled_by_a_loader(const ContentProbe& probe) {
  return probe.head.starts_with("\x1f\x8b") || probe.head.starts_with("BZh") ||
         probe.head.starts_with("\xfd\x37\x7a\x58\x5a");
}

}  // namespace

// Files whose loaders unpickle them (pickles, joblib files, tar archives): only `scan` reads them.
const FormatDescriptor kPickleFormat{
    .name = "pickle",
    .extensions = {"pkl", "pickle", "tar", "joblib", "gz", "bz2", "xz", "lzma", "z", "zlib"},
    .claims_content = unpickled_by_a_loader,
    .scan = scan::scan_pickle_based_file,
    .scans_any_file = true,
};

}  // namespace tarnwick
