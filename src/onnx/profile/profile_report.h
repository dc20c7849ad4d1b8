// The profile as a text report and as the "onnx_profile" JSON document.
#pragma once

#include <cstdint>
#include <ostream>

#include "base/json_output.h"
#include "onnx/profile/model_profile.h"

namespace tarnwick {

void print_profile_report(std::ostream& out, const ModelProfile& profile, std::uint64_t limit);
// The document with "unresolved_nodes" and "nodes" left empty: print_profile_json writes them
// in place element by element.
OrderedJson profile_document(const ModelProfile& profile);
Status print_profile_json(std::ostream& out, const ModelProfile& profile);

// "[1, 3, 224, 224]", "scalar", or "unknown".
std::string format_known_shape(const KnownValue& value);

}  // namespace tarnwick
