// Plain pickled data (numbers, strings, containers) as JSON, for metadata such as torch's sys info.
#pragma once

#include "base/json_output.h"
#include "pickle/machine.h"

namespace tarnwick::pickle {

// At most 8 levels and 10000 containers; deeper or further values, recorded calls and objects
// become text.
Json value_json(const Machine& machine, ValueId id);

}  // namespace tarnwick::pickle
