// ONNX runs no code when loaded, but its external-data locations name files the loader opens:
// one that is absolute or leaves the model's directory reads whatever it points at.
#include "onnx/onnx_scan.h"

#include <filesystem>

#include "base/file_read.h"
#include "onnx/external_data.h"
#include "onnx/onnx_graph.h"

namespace tarnwick::scan {

void scan_onnx(const ScanInput& input, FileScan& scan) {
  scan.format = "onnx";
  Result<FileBytes> file = input.bytes ? Result<FileBytes>(FileBytes()) : read_whole_file(input.path);
  if (!file.is_ok()) return scan.add("unscannable", file.message());
  Result<OnnxModel> model = decode_onnx_model(input.bytes ? *input.bytes : file.value().view());
  if (!model.is_ok()) return scan.add("unscannable", "model: " + model.message());
  // Bytes from standard input name no directory: a loader resolves their locations from the current one.
  std::filesystem::path directory =
      input.bytes ? std::filesystem::path() : std::filesystem::path(input.path).parent_path();
  if (directory.empty()) directory = ".";
  for (const ExternalDataRef& ref : list_external_data(model.value().graph)) {
    std::string tensor = "initializer " + ref.tensor + (ref.graph.empty() ? "" : " (in " + ref.graph + ")");
    if (!ref.location || ref.location->empty()) {
      scan.add("dangerous", tensor + " keeps external data without a location");
    } else if (location_is_absolute(*ref.location)) {
      scan.add("dangerous", tensor + " reads external data from an absolute path: " + *ref.location);
    } else if (location_escapes(directory, *ref.location)) {
      scan.add("dangerous", tensor + " reads external data outside the model's directory: " + *ref.location);
    }
  }
}

}  // namespace tarnwick::scan
