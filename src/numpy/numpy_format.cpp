#include "numpy/numpy_format.h"

#include "base/little_endian.h"
#include "containers/npy_header.h"
#include "descriptor/tensor_file_operations.h"
#include "numpy/numpy_table.h"

namespace tarnwick {

namespace {

std::vector<MetadataHighlight> no_highlights(const Json&) { return {}; }
// Array names are whatever the saver chose, so the architecture is inferred from them alone.
ArchitectureFacts nothing_stated(const TensorTable&) { return {}; }

}  // namespace

const TensorFileFormat kNumpyArrays{
    .name = "NumPy",
    .title = "NumPy",
    .json_type = "numpy",
    .read_table = read_numpy_table,
    .highlights = no_highlights,
    .stated_architecture = nothing_stated,
};

namespace {

// A .npy array by its magic; an .npz archive by its first member, which numpy.savez names
// "<key>.npy" (torch.load would refuse such a zip: it holds no data.pkl).
bool holds_arrays(const ContentProbe& probe) {
  if (probe.head.starts_with(kNpyMagic)) return true;
  std::string_view head = probe.head;
  if (!head.starts_with(std::string_view("PK\x03\x04", 4)) || head.size() < 30) return false;
  std::uint64_t name_length = little_endian(head, 26, 2);
  if (head.size() < 30 + name_length) return false;
  return head.substr(30, name_length).ends_with(".npy");
}

using Operations = TensorFileOperations<kNumpyArrays>;

}  // namespace

const FormatDescriptor kNumpyFormat{
    .name = "NumPy",
    .extensions = {"npy", "npz"},
    .claims_content = holds_arrays,
    .inspect = Operations::inspect,
    .explain = Operations::explain,
    .diff = Operations::diff,
    .points_to_contents_diff = true,
    .check = Operations::check,
    .explain_change = Operations::explain_change,
    .tensor_table = read_numpy_table,
    .stated_architecture = nothing_stated,
    .scanned_by_any_file_loaders = true,
};

}  // namespace tarnwick
