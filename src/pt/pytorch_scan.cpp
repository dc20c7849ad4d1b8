// The scan of pickle-based files, by what the loaders that take any file would do with the
// bytes: a zip (torch.load, numpy.load), a tar (torch.load's oldest format), a .npy array,
// a compressed stream (joblib.load), else a pickle stream (torch.load's legacy path,
// pickle.load, joblib.load).
#include "pt/pytorch_scan.h"

#include <memory>

#include "base/file_read.h"
#include "containers/decompress.h"
#include "containers/tar_archive.h"
#include "containers/npy_header.h"
#include "pickle/pickle_findings.h"
#include "pt/container_scan.h"

namespace tarnwick::scan {

namespace {

bool is_zip(std::string_view bytes) {
  return bytes.starts_with(std::string_view("PK\x03\x04", 4)) || bytes.starts_with(std::string_view("PK\x05\x06", 4));
}

void scan_npy(std::string_view bytes, const Place& place, FileScan& scan) {
  if (place.top()) scan.format = "numpy";
  Result<NpyHeader> header = read_npy_header(bytes);
  if (!header.is_ok()) return scan.add("unscannable", place.where(header.message()));
  if (!header.value().has_object) return;
  scan_one_pickle(bytes, header.value().data_offset, place.where("the object array's pickle"), scan);
}

void scan_compressed(std::string_view bytes, Compression compression, const Place& place, FileScan& scan) {
  if (place.top()) scan.format = std::string(compression_name(compression)) + "-compressed";
  Result<std::string> inflated = decompress(compression, bytes, decompression_budget(bytes.size()));
  if (!inflated.is_ok()) {
    return scan.add("unscannable", place.where(std::string(compression_name(compression)) + " stream: " + inflated.message()));
  }
  scan.add("info", place.where(std::string(compression_name(compression)) + " stream of " +
                               std::to_string(inflated.value().size()) + " bytes, decompressed and scanned"));
  scan_by_content(inflated.value(), place.inside("(" + std::string(compression_name(compression)) + ")"), scan);
}

// Whether a container's own layout decided the scan; otherwise the bytes are a pickle stream.
bool scan_as_container(std::string_view bytes, const Place& place, FileScan& scan) {
  if (is_zip(bytes)) {
    scan_zip_archive(*PositionedFile::over(bytes), place, scan);
  } else if (is_tar_archive(bytes)) {
    scan_tar_archive(bytes, place, scan);
  } else if (is_npy(bytes)) {
    scan_npy(bytes, place, scan);
  } else if (std::optional<Compression> compression = detect_compression(bytes)) {
    scan_compressed(bytes, *compression, place, scan);
  } else {
    return false;
  }
  return true;
}

// Whether the bytes lie deeper than containers are opened; then they are unscannable.
bool too_deep(const Place& place, FileScan& scan) {
  if (place.depth <= kMaxContainerNesting) return false;
  scan.add("unscannable", place.where("containers nested more than " + std::to_string(kMaxContainerNesting) + " deep"));
  return true;
}

}  // namespace

void scan_by_content(std::string_view bytes, const Place& place, FileScan& scan) {
  if (too_deep(place, scan)) return;
  if (!scan_as_container(bytes, place, scan)) return scan_pickle_stream(bytes, place, scan);
  // pickle.load reads the same bytes from their start whatever container they also are.
  scan_as_pickle_too(bytes, place.where("the bytes read as a pickle"), scan);
}

void scan_member_by_content(std::string_view bytes, const Place& place, FileScan& scan) {
  if (too_deep(place, scan)) return;
  if (scan_as_container(bytes, place, scan)) {
    scan_as_pickle_too(bytes, place.where("the bytes read as a pickle"), scan);
  } else if (bytes.starts_with('\x80')) {
    scan_pickle_stream(bytes, place, scan);
  } else {
    scan_as_pickle_too(bytes, place.where("the bytes read as a pickle"), scan);
  }
}

void scan_pickle_based_file(const ScanInput& input, FileScan& scan) {
  Result<FileBytes> file = input.bytes ? Result<FileBytes>(FileBytes()) : read_whole_file(input.path);
  if (!file.is_ok()) {
    if (!input.also) scan.format = "pickle";
    return scan.add("unscannable", file.message());
  }
  std::string_view bytes = input.bytes ? *input.bytes : file.value().view();
  if (input.also) return scan_as_pickle_too(bytes, "the bytes read as a pickle", scan);
  scan.format = "pickle";
  scan_by_content(bytes, Place{}, scan);
}

}  // namespace tarnwick::scan
