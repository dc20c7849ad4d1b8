// What running one pickle would import and call, found without building its values: a light
// stack of slots keeps only the strings STACK_GLOBAL may take (from the memo too) and the imports
// REDUCE, NEWOBJ and OBJ may call. Memory stays within a small multiple of the pickle's opcodes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::scan {

struct ImportRecord {
  std::string module;
  std::string name;
  std::string opcode;  // GLOBAL, STACK_GLOBAL, INST, OBJ, EXT...
};

struct PickleTrace {
  std::vector<ImportRecord> imports;  // in the order a loader would perform them
  std::vector<std::string> unsafe;       // calls of values that are no import, and the like
  std::vector<std::string> unscannable;  // why the pickle could not be followed to its STOP
  std::uint64_t end = 0;                 // offset past STOP
  std::uint64_t steps = 0;               // opcodes followed
  std::uint64_t max_slots = 0;           // the most stack slots and memo entries held at once
  bool stopped = false;                  // reached STOP
};

// Follows the pickle that starts at `start` up to its STOP or the first opcode a loader would
// fail on; everything before that point is what loading would execute.
// `gaps` (sorted [from, to) ranges, each starting right after an opcode) are bytes the loader
// reads outside the opcodes, such as the arrays joblib writes into its pickles.
using ByteGaps = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
PickleTrace trace_pickle(std::string_view bytes, std::uint64_t start = 0, const ByteGaps& gaps = {});
// The same as pickle.load reads it: no persistent_load, so a persistent id ends the load.
PickleTrace trace_plain_pickle_load(std::string_view bytes);

}  // namespace tarnwick::scan
