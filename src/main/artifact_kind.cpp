#include "main/artifact_kind.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "lightgbm/content_test.h"
#include "main/file_read.h"
#include "main/text.h"
#include "safetensors/safetensors_reader.h"

namespace tarnwick {

std::string_view display_name(ArtifactKind kind) {
  switch (kind) {
    case ArtifactKind::CatBoost: return "CatBoost";
    case ArtifactKind::LightGBM: return "LightGBM";
    case ArtifactKind::ONNX: return "ONNX";
    case ArtifactKind::PyTorch: return "PyTorch";
    case ArtifactKind::TensorPlanJson: return "tensor plan JSON";
    case ArtifactKind::Safetensors: return "safetensors";
    case ArtifactKind::GGUF: return "GGUF";
    case ArtifactKind::Unknown: break;
  }
  return "unknown";
}

namespace {

std::string lower_case(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::optional<ArtifactKind> kind_from_extension(const std::string& path) {
  // A sharded safetensors checkpoint's index is JSON too; its longer suffix decides first.
  if (lower_case(path).ends_with(".safetensors.index.json")) return ArtifactKind::Safetensors;
  std::string extension = path_extension(path);
  if (extension.empty() || !is_valid_utf8(extension)) return std::nullopt;
  extension = lower_case(extension);
  if (extension == "cbm") return ArtifactKind::CatBoost;
  if (extension == "lgb") return ArtifactKind::LightGBM;
  if (extension == "onnx") return ArtifactKind::ONNX;
  if (extension == "pt" || extension == "pth" || extension == "bin" || extension == "ckpt") {
    return ArtifactKind::PyTorch;
  }
  if (extension == "json") return ArtifactKind::TensorPlanJson;
  if (extension == "safetensors") return ArtifactKind::Safetensors;
  if (extension == "gguf") return ArtifactKind::GGUF;
  return std::nullopt;
}

// An 8-byte little-endian header length that fits in the file, then the header's `{`. Both
// tensor formats are read by position, so only a regular file can be one.
bool looks_like_safetensors(const std::string& path, std::string_view head) {
  if (head.size() < 9 || head[8] != '{') return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  std::uint64_t header_length = 0;
  for (int i = 7; i >= 0; --i) header_length = (header_length << 8) | static_cast<unsigned char>(head[i]);
  return header_length <= size - 8;
}

}  // namespace

ArtifactKind detect_artifact_kind(const std::string& path) {
  if (auto kind = kind_from_extension(path)) return *kind;
  if (directory_holds_safetensors(path)) return ArtifactKind::Safetensors;
  // One read of the head serves every content test, so a pipe is classified as well as a file.
  std::string head = read_file_head(path, kLightgbmProbeBytes);
  if (head.starts_with("CBM1")) return ArtifactKind::CatBoost;
  if (looks_like_lightgbm_text(head)) return ArtifactKind::LightGBM;
  if (head.starts_with('\x80')) return ArtifactKind::PyTorch;
  if (head.starts_with("GGUF")) return ArtifactKind::GGUF;
  if (looks_like_safetensors(path, head)) return ArtifactKind::Safetensors;
  return ArtifactKind::Unknown;
}

}  // namespace tarnwick
