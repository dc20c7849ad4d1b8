#include "pt/pickle_format.h"

#include "pt/pytorch_scan.h"

namespace tarnwick {

// A pickle from protocol 2 on opens with 0x80 and is claimed by the PyTorch format, as torch.load
// would read it; these names bring the older protocols and archives to the scan as well.
const FormatDescriptor kPickleFormat{
    .name = "pickle",
    .extensions = {"pkl", "pickle", "tar"},
    .scan = scan::scan_pickle_based_file,
};

}  // namespace tarnwick
