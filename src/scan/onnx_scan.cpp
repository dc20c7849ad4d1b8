// ONNX runs no code when loaded, but its external-data locations name files the loader opens:
// one that is absolute or climbs out of the model's directory reads whatever it points at.
#include <cctype>
#include <optional>
#include <string>

#include "main/file_read.h"
#include "onnx/protobuf.h"
#include "scan/scan_formats.h"

namespace tarnwick::scan {

namespace {

constexpr int kMaxGraphDepth = 64;

// ONNX field numbers.
constexpr std::uint32_t kModelGraph = 7, kGraphNode = 1, kGraphInitializer = 5, kGraphSparseInitializer = 15,
                        kNodeAttribute = 5, kAttributeGraph = 6, kAttributeGraphs = 11, kTensorName = 8,
                        kTensorExternalData = 13, kTensorDataLocation = 14, kEntryKey = 1, kEntryValue = 2,
                        kSparseValues = 1, kSparseIndices = 2;

bool is_absolute(std::string_view location) {
  if (location.starts_with("/") || location.starts_with("\\")) return true;
  return location.size() >= 2 && location[1] == ':' && std::isalpha(static_cast<unsigned char>(location[0]));
}

bool escapes_directory(std::string_view location) {
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

class OnnxScanner {
 public:
  explicit OnnxScanner(FileScan& scan) : scan_(scan) {}

  void graph(std::string_view bytes, int depth) {
    if (depth > kMaxGraphDepth) {
      scan_.add("unscannable", "subgraphs nest more than " + std::to_string(kMaxGraphDepth) + " deep");
      return;
    }
    Result<std::vector<ProtoField>> fields = decode_fields(bytes);
    if (!fields.is_ok()) {
      scan_.add("unscannable", "graph: " + fields.message());
      return;
    }
    for (const ProtoField& field : fields.value()) {
      if (field.wire_type != kLengthDelimited) continue;
      if (field.field_number == kGraphInitializer) tensor(field.payload);
      if (field.field_number == kGraphSparseInitializer) sparse_tensor(field.payload);
      if (field.field_number == kGraphNode) node(field.payload, depth);
    }
  }

 private:
  void node(std::string_view bytes, int depth) {
    Result<std::vector<ProtoField>> fields = decode_fields(bytes);
    if (!fields.is_ok()) return scan_.add("unscannable", "node: " + fields.message());
    for (const ProtoField& field : fields.value()) {
      if (field.field_number != kNodeAttribute || field.wire_type != kLengthDelimited) continue;
      Result<std::vector<ProtoField>> attribute = decode_fields(field.payload);
      if (!attribute.is_ok()) return scan_.add("unscannable", "attribute: " + attribute.message());
      for (const ProtoField& part : attribute.value()) {
        if ((part.field_number == kAttributeGraph || part.field_number == kAttributeGraphs) &&
            part.wire_type == kLengthDelimited) {
          graph(part.payload, depth + 1);
        }
      }
    }
  }

  void sparse_tensor(std::string_view bytes) {
    Result<std::vector<ProtoField>> fields = decode_fields(bytes);
    if (!fields.is_ok()) return scan_.add("unscannable", "sparse initializer: " + fields.message());
    for (const ProtoField& field : fields.value()) {
      if ((field.field_number == kSparseValues || field.field_number == kSparseIndices) &&
          field.wire_type == kLengthDelimited) {
        tensor(field.payload);
      }
    }
  }

  void tensor(std::string_view bytes) {
    Result<std::vector<ProtoField>> fields = decode_fields(bytes);
    if (!fields.is_ok()) return scan_.add("unscannable", "initializer: " + fields.message());
    std::string name;
    bool external = false;
    std::optional<std::string> location;
    for (const ProtoField& field : fields.value()) {
      if (field.field_number == kTensorName && field.wire_type == kLengthDelimited) name = std::string(field.payload);
      if (field.field_number == kTensorDataLocation && field.wire_type == kVarint) external = field.varint == 1;
      if (field.field_number == kTensorExternalData && field.wire_type == kLengthDelimited) {
        Result<std::vector<ProtoField>> entry = decode_fields(field.payload);
        if (!entry.is_ok()) return scan_.add("unscannable", "external data of " + name + ": " + entry.message());
        std::string key, value;
        for (const ProtoField& part : entry.value()) {
          if (part.field_number == kEntryKey) key = std::string(part.payload);
          if (part.field_number == kEntryValue) value = std::string(part.payload);
        }
        if (key == "location") location = value;
      }
    }
    if (!external && !location) return;
    if (!location || location->empty()) return scan_.add("unsafe", "initializer " + name + " keeps external data without a location");
    if (is_absolute(*location)) {
      scan_.add("unsafe", "initializer " + name + " reads external data from an absolute path: " + *location);
    } else if (escapes_directory(*location)) {
      scan_.add("unsafe", "initializer " + name + " reads external data outside the model's directory: " + *location);
    }
  }

  FileScan& scan_;
};

}  // namespace

void scan_onnx(const std::string& path, FileScan& scan) {
  scan.format = "onnx";
  Result<std::string> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return scan.add("unscannable", bytes.message());
  Result<std::vector<ProtoField>> fields = decode_fields(bytes.value());
  if (!fields.is_ok()) return scan.add("unscannable", "model: " + fields.message());
  OnnxScanner scanner(scan);
  for (const ProtoField& field : fields.value()) {
    if (field.field_number == kModelGraph && field.wire_type == kLengthDelimited) scanner.graph(field.payload, 0);
  }
}

}  // namespace tarnwick::scan
