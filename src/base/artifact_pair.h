// Reading the two artifacts of a pair command: old first, and the new one only when that worked.
#pragma once

#include <string>

#include "base/status.h"

namespace tarnwick {

template <class Summary>
struct ArtifactPair {
  Summary old_model;
  Summary new_model;
};

template <class Summary>
Result<ArtifactPair<Summary>> read_artifact_pair(Result<Summary> (*read)(const std::string&),
                                                 const std::string& old_path, const std::string& new_path) {
  Result<Summary> old_model = read(old_path);
  if (!old_model.is_ok()) return old_model.error();
  Result<Summary> new_model = read(new_path);
  if (!new_model.is_ok()) return new_model.error();
  return ArtifactPair<Summary>{old_model.take(), new_model.take()};
}

}  // namespace tarnwick
