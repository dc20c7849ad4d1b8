// joblib writes each numpy array's bytes into the pickle stream itself, right after the BUILD
// of its NumpyArrayWrapper; its unpickler reads them from there (an object array as a pickle of
// its own). Found by running the pickle over inert values and reading each wrapper's state.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "pickle/import_trace.h"

namespace tarnwick::scan {

struct JoblibArrays {
  ByteGaps gaps;                              // bytes outside the opcodes, arrays and their pickles
  std::vector<std::uint64_t> object_pickles;  // where an object array's own pickle starts
};

bool names_joblib_array_wrapper(std::string_view module, std::string_view name);

// Fails with why an array's extent cannot be known (a state without dtype or shape, a dtype whose
// item size is not stated, bytes past the end).
Result<JoblibArrays> find_joblib_arrays(std::string_view bytes, std::uint64_t start);

}  // namespace tarnwick::scan
