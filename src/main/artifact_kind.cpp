#include "main/artifact_kind.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "lightgbm/content_test.h"
#include "main/file_read.h"
#include "main/text.h"

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

std::optional<ArtifactKind> kind_from_extension(const std::string& path) {
  std::string extension = path_extension(path);
  if (extension.empty() || !is_valid_utf8(extension)) return std::nullopt;
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (extension == "cbm") return ArtifactKind::CatBoost;
  if (extension == "lgb") return ArtifactKind::LightGBM;
  if (extension == "onnx") return ArtifactKind::ONNX;
  if (extension == "pt" || extension == "pth" || extension == "bin" || extension == "ckpt") {
    return ArtifactKind::PyTorch;
  }
  if (extension == "json") return ArtifactKind::TensorPlanJson;
  return std::nullopt;
}

}  // namespace

ArtifactKind detect_artifact_kind(const std::string& path) {
  if (auto kind = kind_from_extension(path)) return *kind;
  // One read of the head serves every content test, so a pipe is classified as well as a file.
  std::string head = read_file_head(path, kLightgbmProbeBytes);
  if (head.starts_with("CBM1")) return ArtifactKind::CatBoost;
  if (looks_like_lightgbm_text(head)) return ArtifactKind::LightGBM;
  if (head.starts_with('\x80')) return ArtifactKind::PyTorch;
  return ArtifactKind::Unknown;
}

ArtifactKind detect_contents_kind(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return ArtifactKind::Safetensors;
  std::string lower = path;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  auto ends_with = [&](std::string_view suffix) {
    return lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (ends_with(".safetensors") || ends_with(".safetensors.index.json")) return ArtifactKind::Safetensors;
  if (ends_with(".gguf")) return ArtifactKind::GGUF;
  ArtifactKind kind = detect_artifact_kind(path);
  if (kind != ArtifactKind::Unknown) return kind;
  std::string head = read_file_head(path, 9);
  if (head.size() >= 4 && head.compare(0, 4, "GGUF") == 0) return ArtifactKind::GGUF;
  if (head.size() == 9 && head[8] == '{') {
    std::uint64_t header_length = 0;
    for (int i = 7; i >= 0; --i) header_length = (header_length << 8) | static_cast<unsigned char>(head[i]);
    std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && header_length <= size - 8) return ArtifactKind::Safetensors;
  }
  return ArtifactKind::Unknown;
}

}  // namespace tarnwick
