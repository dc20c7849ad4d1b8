// The scan of bytes by what the loaders that take any file would do with them: torch.load
// (zip, then tar, then a legacy pickle stream), numpy.load (.npy, .npz), joblib.load (its
// compression wrappers around a pickle) and pickle.load.
#pragma once

#include <string>
#include <string_view>

#include "base/file_scan.h"
#include "base/positioned_file.h"

namespace tarnwick::scan {

// Where scanned bytes sit in the file: "" for the file itself, else the member's path inside its
// containers ("model.tar:pickle"), which prefixes every record.
struct Place {
  std::string name;
  int depth = 0;  // containers opened to reach it

  std::string where(std::string_view what) const { return name.empty() ? std::string(what) : name + ": " + std::string(what); }
  Place inside(std::string_view member) const { return {name.empty() ? std::string(member) : name + ":" + std::string(member), depth + 1}; }
  bool top() const { return depth == 0; }
};

inline constexpr int kMaxContainerNesting = 4;

// Bytes a loader reads whole (the file, a decompressed stream): a container by its signature,
// else a pickle stream.
void scan_by_content(std::string_view bytes, const Place& place, FileScan& scan);
// An archive member no loader names: a container or a protocol 2+ pickle is scanned as such,
// anything else only for what pickle.load would run from it.
void scan_member_by_content(std::string_view bytes, const Place& place, FileScan& scan);
void scan_zip_archive(const PositionedFile& file, const Place& place, FileScan& scan);
void scan_tar_archive(std::string_view bytes, const Place& place, FileScan& scan);
// A legacy torch file's five pickles, a joblib stream with its arrays, or one plain pickle.
void scan_pickle_stream(std::string_view bytes, const Place& place, FileScan& scan);

}  // namespace tarnwick::scan
