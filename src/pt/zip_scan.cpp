// Zip archives as their loaders read them: torch.load runs every .pkl entry (TorchScript's
// constants.pkl and data.pkl included) and torch.jit.load compiles code/; torch.package imports
// the Python sources it carries; numpy.load reads any member that opens as a .npy array.
#include <algorithm>
#include <memory>
#include <set>

#include "containers/decompress.h"
#include "containers/npy_header.h"
#include "pickle/pickle_findings.h"
#include "pt/container_scan.h"
#include "containers/zip_directory.h"

namespace tarnwick::scan {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

// torch finds its pickles by name without regard to case (miniz compares names that way).
bool names_a_pickle(std::string_view name) { return lower(name).ends_with(".pkl"); }
bool is_torchscript_code(std::string_view name) {
  std::string folded = lower(name);
  return folded.ends_with(".py") && (folded.starts_with("code/") || folded.find("/code/") != std::string::npos);
}
bool is_python_source(std::string_view name) { return lower(name).ends_with(".py"); }

bool same_entries(const std::vector<ZipEntry>& a, const std::vector<ZipEntry>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ZipEntry& x, const ZipEntry& y) {
    return x.name == y.name && x.method == y.method && x.compressed_size == y.compressed_size &&
           x.uncompressed_size == y.uncompressed_size && x.local_header_offset == y.local_header_offset;
  });
}

// The directory torch's loader reads. Where another reader of the same bytes (Python's zipfile,
// the rule of the summary) would find a different one, the archive shows two contents and
// nothing can be said of it.
Result<std::vector<ZipEntry>> loader_directory(const PositionedFile& file, const std::string& path) {
  Result<std::vector<ZipEntry>> loader = read_zip_directory(file, path, ZipDirectoryRule::kLoader);
  Result<std::vector<ZipEntry>> other = read_zip_directory(file, path, ZipDirectoryRule::kSummary);
  if (loader.is_ok() != other.is_ok() || (loader.is_ok() && !same_entries(loader.value(), other.value()))) {
    return fail("the archive's end records lead zip readers to different directories, so what loads is ambiguous");
  }
  return loader;
}

class ZipScan {
 public:
  ZipScan(const PositionedFile& file, const Place& place, FileScan& scan)
      : file_(file), place_(place), scan_(scan), budget_(decompression_budget(file.size())) {}

  void run() {
    Result<std::vector<ZipEntry>> entries = loader_directory(file_, place_.top() ? scan_.path : place_.name);
    if (!entries.is_ok()) return scan_.add("unscannable", place_.where(entries.message()));
    std::set<std::string> sources;
    for (const ZipEntry& entry : entries.value()) {
      if (lower(entry.name).ends_with(".data/version")) torch_package_ = true;
    }
    for (const ZipEntry& entry : entries.value()) scan_entry(entry, sources);
    if (!code_files_.empty()) report_torchscript_code();
    if (torch_package_) grade_package_imports(sources);
    if (place_.top()) scan_.format = torch_package_ ? "torch-package" : !code_files_.empty() ? "torchscript"
                                     : pickles_ == 0 && arrays_ > 0 ? "numpy-npz" : "pytorch-zip";
    if (pickles_ == 0 && arrays_ == 0 && sources.empty()) {
      scan_.add("unscannable", place_.where("no pickle (.pkl) entry and no numpy array in the archive"));
    }
    if (pickles_ > 1) scan_.add("info", place_.where(std::to_string(pickles_) + " pickle entries in the archive, all scanned"));
  }

 private:
  // The entry's bytes as its reader sees them: stored ones as they are, compressed ones inflated
  // under what is left of the archive's budget.
  Result<std::string> read_entry(const ZipEntry& entry) {
    if (entry.method == 0 && entry.compressed_size != entry.uncompressed_size) {
      return fail("it is stored with two different sizes");
    }
    Result<std::uint64_t> start = zip_data_position(file_, entry.local_header_offset);
    if (!start.is_ok()) return start.error();
    Result<std::string> stored = file_.read_at(start.value(), entry.compressed_size);
    if (!stored.is_ok() || entry.method == 0) return stored;
    std::uint64_t limit = std::min(entry.uncompressed_size, budget_);
    Result<std::string> inflated = decompress_zip_entry(entry.method, stored.value(), entry.uncompressed_size, limit);
    if (inflated.is_ok()) budget_ -= inflated.value().size();
    return inflated;
  }

  void scan_entry(const ZipEntry& entry, std::set<std::string>& sources) {
    bool pickle = names_a_pickle(entry.name);
    bool code = is_torchscript_code(entry.name);
    bool source = torch_package_ && !code && is_python_source(entry.name);
    if (!pickle && !code && !source && entry.method == 0 && !opens_as_array(entry)) return;
    if (pickle) ++pickles_;
    Result<std::string> bytes = read_entry(entry);
    if (!bytes.is_ok()) {
      if (pickle || code || source || entry.method != 0) {
        scan_.add("unscannable", place_.where(entry.name + ": " + bytes.message()));
      }
      return;
    }
    if (pickle) {
      scan_one_pickle(bytes.value(), 0, place_.where(entry.name), scan_);
    } else if (code) {
      code_files_.push_back(entry.name);
      collect_calls(bytes.value());
    } else if (source) {
      sources.insert(module_of_source(entry.name));
      scan_.add("dangerous", place_.where(entry.name + ": Python source that torch.package's importer runs on load"));
    } else if (is_npy(bytes.value())) {
      ++arrays_;
      scan_array(bytes.value(), entry.name);
    }
  }

  // A stored member is looked at by its first bytes; numpy.load reads any member with the magic.
  bool opens_as_array(const ZipEntry& entry) {
    Result<std::uint64_t> start = zip_data_position(file_, entry.local_header_offset);
    if (!start.is_ok() || entry.uncompressed_size < kNpyMagic.size()) return false;
    Result<std::string> head = file_.read_at(start.value(), kNpyMagic.size());
    return head.is_ok() && is_npy(head.value());
  }

  void scan_array(std::string_view bytes, const std::string& name) {
    Result<NpyHeader> header = read_npy_header(bytes);
    if (!header.is_ok()) return scan_.add("unscannable", place_.where(name + ": " + header.message()));
    if (!header.value().has_object) return;
    scan_one_pickle(bytes, header.value().data_offset, place_.where(name + " (object array)"), scan_);
  }

  // The qualified names TorchScript code calls (torch.*, ops.*), for the report.
  void collect_calls(std::string_view code) {
    std::size_t at = 0;
    while ((at = code.find('(', at)) != std::string_view::npos) {
      std::size_t start = at;
      while (start > 0 && (std::isalnum(static_cast<unsigned char>(code[start - 1])) || code[start - 1] == '_' ||
                           code[start - 1] == '.')) {
        --start;
      }
      std::string_view name = code.substr(start, at - start);
      if ((name.starts_with("torch.") || name.starts_with("ops.")) && calls_.size() < 10'000) calls_.insert(std::string(name));
      ++at;
    }
  }

  void report_torchscript_code() {
    std::string listed;
    std::size_t shown = 0;
    for (const std::string& call : calls_) {
      if (shown == 12) {
        listed += ", ... " + std::to_string(calls_.size() - shown) + " more";
        break;
      }
      listed += (shown++ == 0 ? "" : ", ") + call;
    }
    scan_.add("unknown", place_.where("TorchScript code compiled on load (" + std::to_string(code_files_.size()) +
                                      " file(s) under code/, e.g. " + code_files_.front() + ")" +
                                      (calls_.empty() ? "" : "; it calls " + listed)));
  }

  // A torch.package supplies the source of the modules it names: an import of one of them runs
  // the package's own code, whatever grade the name would have elsewhere.
  void grade_package_imports(const std::set<std::string>& sources) {
    for (ScanImport& import : scan_.imports) {
      for (const std::string& module : sources) {
        if (import.module == module || import.module.starts_with(module + ".")) import.grade = Grade::kDangerous;
      }
    }
  }

  static std::string module_of_source(std::string_view name) {
    std::string path(name.substr(name.find('/') + 1));  // past the archive's own folder
    path.resize(path.size() - 3);
    if (path.ends_with("/__init__")) path.resize(path.size() - 9);
    std::replace(path.begin(), path.end(), '/', '.');
    return path;
  }

  const PositionedFile& file_;
  const Place& place_;
  FileScan& scan_;
  std::uint64_t budget_;
  bool torch_package_ = false;
  std::uint64_t pickles_ = 0, arrays_ = 0;
  std::vector<std::string> code_files_;
  std::set<std::string> calls_;
};

}  // namespace

void scan_zip_archive(const PositionedFile& file, const Place& place, FileScan& scan) { ZipScan(file, place, scan).run(); }

}  // namespace tarnwick::scan
