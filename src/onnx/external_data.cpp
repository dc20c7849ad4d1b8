#include "onnx/external_data.h"

#include <system_error>

#include "base/number_parse.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

void collect(const OnnxGraph& graph, const std::string& path, std::vector<ExternalDataRef>& refs) {
  for (const OnnxTensor& tensor : graph.initializers) {
    if (tensor.data_location != 1) continue;
    ExternalDataRef ref;
    ref.tensor = tensor.name;
    ref.graph = path;
    ref.dims = tensor.dims;
    ref.data_type = tensor.data_type;
    ref.entries = tensor.external_data;
    for (const auto& [key, value] : tensor.external_data) {
      if (key == "location") ref.location = value;
      if (key == "offset") ref.offset = value;
      if (key == "length") ref.length = value;
      if (key == "checksum") ref.checksum = value;
    }
    if (ref.offset) {
      Result<std::uint64_t> parsed = parse_unsigned(*ref.offset);
      if (parsed.is_ok()) ref.offset_value = parsed.value();
    }
    if (ref.length) {
      Result<std::uint64_t> parsed = parse_unsigned(*ref.length);
      if (parsed.is_ok()) ref.length_value = parsed.value();
    }
    refs.push_back(std::move(ref));
  }
  for (std::size_t n = 0; n < graph.nodes.size(); ++n) {
    const OnnxGraphNode& node = graph.nodes[n];
    std::string node_label = node.name.empty() ? "node_" + std::to_string(n + 1) : node.name;
    for (const OnnxAttribute& attribute : node.attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        std::string step = node_label + "/" + attribute.name;
        collect(subgraph, path.empty() ? step : path + "/" + step, refs);
      }
    }
  }
}

}  // namespace

bool location_is_absolute(std::string_view location) {
  if (!location.empty() && (location.front() == '/' || location.front() == '\\')) return true;
  // A drive letter ("C:..."), which a loader on Windows takes as absolute or drive-relative.
  return location.size() >= 2 && location[1] == ':' &&
         ((location[0] >= 'A' && location[0] <= 'Z') || (location[0] >= 'a' && location[0] <= 'z'));
}

namespace {

// Walks the components, counting depth below the directory; ".." above it escapes.
bool climbs_out(std::string_view location) {
  int depth = 0;
  std::size_t start = 0;
  while (start <= location.size()) {
    std::size_t end = location.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = location.size();
    std::string_view part = location.substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

bool is_within(const fs::path& base, const fs::path& target) {
  auto base_it = base.begin();
  auto target_it = target.begin();
  for (; base_it != base.end(); ++base_it, ++target_it) {
    if (base_it->empty() && std::next(base_it) == base.end()) break;  // trailing separator
    if (target_it == target.end() || *base_it != *target_it) return false;
  }
  return true;
}

}  // namespace

std::vector<ExternalDataRef> list_external_data(const OnnxGraph& graph) {
  std::vector<ExternalDataRef> refs;
  collect(graph, "", refs);
  return refs;
}

bool location_escapes(const fs::path& model_dir, std::string_view location) {
  if (location_is_absolute(location) || climbs_out(location)) return true;
  std::error_code error;
  fs::path base = fs::weakly_canonical(model_dir.empty() ? fs::path(".") : model_dir, error);
  if (error) return false;
  fs::path resolved = fs::weakly_canonical(base / fs::path(std::string(location)), error);
  if (error) return false;
  return !is_within(base, resolved);
}

std::optional<std::uint64_t> tensor_byte_size(const std::vector<std::int64_t>& dims, std::optional<std::int32_t> data_type) {
  std::uint64_t width = data_type_size(data_type);
  if (width == 0) return std::nullopt;
  std::uint64_t bytes = width;
  for (std::int64_t dim : dims) {
    if (dim < 0) return std::nullopt;
    if (__builtin_mul_overflow(bytes, static_cast<std::uint64_t>(dim), &bytes)) return std::nullopt;
  }
  return bytes;
}

ExternalDataCheck check_external_data(const fs::path& model_dir, const ExternalDataRef& ref) {
  ExternalDataCheck check;
  if (!ref.location) return check;
  check.escapes = location_escapes(model_dir, *ref.location);
  std::optional<std::uint64_t> size = ref.length ? ref.length_value : tensor_byte_size(ref.dims, ref.data_type);
  std::uint64_t offset = 0;
  bool offset_known = !ref.offset || ref.offset_value;
  if (ref.offset_value) offset = *ref.offset_value;
  std::uint64_t needed;
  if (size && offset_known && !__builtin_add_overflow(offset, *size, &needed)) check.needed_bytes = needed;
  if (check.escapes) return check;
  std::error_code error;
  fs::path file = model_dir / fs::path(*ref.location);
  if (!fs::is_regular_file(file, error)) return check;
  std::uintmax_t file_size = fs::file_size(file, error);
  if (error) return check;
  check.exists = true;
  check.file_size = file_size;
  if (check.needed_bytes) check.size_suffices = *check.needed_bytes <= file_size;
  return check;
}

}  // namespace tarnwick
