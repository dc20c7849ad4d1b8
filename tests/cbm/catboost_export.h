// CatBoost's own JSON export of a corpus model, which the CatBoost tests compare against.
#pragma once

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace tarnwick::testing {

inline nlohmann::json load_catboost_export(const std::filesystem::path& file) {
  std::ifstream stream(file);
  return nlohmann::json::parse(stream);
}

}  // namespace tarnwick::testing
