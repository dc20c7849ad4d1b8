#include "descriptor/file_scan.h"

namespace tarnwick::scan {

std::string FileScan::verdict() const {
  bool unscannable = false;
  for (const ScanFinding& finding : findings) {
    if (finding.severity == "unsafe") return "unsafe";
    unscannable = unscannable || finding.severity == "unscannable";
  }
  return unscannable ? "unscannable" : "safe";
}

}  // namespace tarnwick::scan
