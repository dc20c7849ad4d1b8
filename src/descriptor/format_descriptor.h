// What a model format offers the commands: how its files are recognised and the operations it
// supports. Each format folder exports one descriptor; the registry lists them, and every
// command reaches every format through that list. A null operation means the kind does not
// support it; the command then answers with its refusal.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/change_wording.h"
#include "base/check_rules.h"
#include "base/io.h"
#include "base/json_output.h"
#include "base/status.h"
#include "base/file_scan.h"
#include "tables/architecture.h"
#include "tables/tensor_table.h"
#include "tables/tree_table.h"

namespace tarnwick {

// What the detector knows of a path when it asks the content tests.
struct ContentProbe {
  std::string_view path;
  std::string_view head;               // the first bytes, kProbeBytes at most
  std::optional<std::uint64_t> size;   // regular files only
  bool regular_file = false;
  bool directory = false;
};
inline constexpr std::size_t kProbeBytes = 8192;

struct DiffRequest {
  bool deep = false;
  bool json = false;
};

struct FormatDescriptor {
  std::string_view name;  // the display name used in reports and messages ("CatBoost")
  // Name endings that claim a path when no content test does: lower case, without the leading
  // dot; a longer ending ("safetensors.index.json") is tried before a shorter one ("json").
  std::vector<std::string_view> extensions;
  // True when the bytes are this format's, the way its own loader would decide.
  bool (*claims_content)(const ContentProbe& probe) = nullptr;

  // `inspect` with the whole handler arguments, parsed again by the kind's own rules.
  Status (*inspect)(const Args& args, Io& io) = nullptr;
  bool inspects_deep = false;  // otherwise `inspect --deep` is refused
  Status (*explain)(const std::string& path, Io& io) = nullptr;
  Status (*diff)(const std::string& old_path, const std::string& new_path, const DiffRequest& request,
                 Io& io) = nullptr;
  bool diffs_deep = false;        // otherwise `diff --deep` is noted and ignored
  std::string_view diff_refusal = {};  // what `diff` answers when the kind has no diff
  // A `diff` of this kind against another kind that holds tensors points to `diff --contents`,
  // which compares tensor tables across formats.
  bool points_to_contents_diff = false;
  Result<CheckOutcome> (*check)(const CheckOptions& options, const std::string& old_path,
                                const std::string& new_path) = nullptr;
  std::string_view check_refusal = {};  // what `check` answers for two files of a kind it cannot check
  Result<ChangeExplanation> (*explain_change)(const std::string& old_path, const std::string& new_path) = nullptr;

  // `contents`: a tensor kind gives its tensor table, a tree kind its tree table.
  Result<TensorTable> (*tensor_table)(const std::string& path) = nullptr;
  // What the file (or a config beside it) states about the architecture, for the Architecture
  // section; null when the kind's tensor names are not the network's own (ONNX).
  ArchitectureFacts (*stated_architecture)(const TensorTable& table) = nullptr;
  Result<TreeTable> (*tree_table)(const std::string& path) = nullptr;

  // `profile` with the whole handler arguments: an ONNX graph's cost, a language-model
  // checkpoint's serving memory.
  Status (*profile)(const Args& args, Io& io) = nullptr;
  // `check --max-serving-memory` can weigh its files.
  bool weighs_serving_memory = false;

  // `scan`: what loading the file would run or open, judged into `scan`.
  void (*scan)(const scan::ScanInput& input, scan::FileScan& scan) = nullptr;
  // The scan reads the bytes as loaders that take any file do (torch.load, pickle.load): a file
  // of another kind is scanned by it as well, with `ScanInput::also`.
  bool scans_any_file = false;
  // No scan of its own: the loaders that take any file (numpy.load among them) read this kind,
  // so their scan is its scan.
  bool scanned_by_any_file_loaders = false;
};

// `path`'s last component ends with ".<extension>", ASCII letters compared without case, and the
// dot is not the name's first character.
bool path_has_extension(std::string_view path, std::string_view extension);

// Whether `format` is known and has a tensor or a tree table (what `contents` reads).
inline bool holds_tensors(const FormatDescriptor* format) {
  return format != nullptr && format->tensor_table != nullptr;
}
inline bool holds_trees(const FormatDescriptor* format) { return format != nullptr && format->tree_table != nullptr; }

}  // namespace tarnwick
