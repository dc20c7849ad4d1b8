// Inert values built from a pickle: nothing is imported or called, a call is only recorded.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tarnwick::pickle {

using ValueId = std::uint32_t;
inline constexpr ValueId kNoValue = std::numeric_limits<ValueId>::max();

enum class Kind : std::uint8_t {
  kNone,
  kBool,
  kInt,        // `integer`
  kBigInt,     // beyond 64 bits: `text` holds decimal digits (text forms) or the LE bytes (LONG1/LONG4)
  kFloat,      // `real`
  kBytes,      // `text`
  kStr,        // `text`, UTF-8
  kTuple,      // `items`
  kList,       // `items`
  kDict,       // `entries`: key, value, key, value, ...
  kSet,        // `items`
  kFrozenSet,  // `items`
  kGlobal,     // `text` module, `name`
  kCall,       // REDUCE / NEWOBJ / NEWOBJ_EX / INST / OBJ: `items` = callable, args tuple[, kwargs]
  kPersistentRef,  // `items` = the persistent id
  kExtension,  // EXT1/2/4: `integer` the extension code
  kBuffer,     // NEXT_BUFFER: an out-of-band buffer the loader would have to supply
};

struct Value {
  Kind kind = Kind::kNone;
  bool big_int_binary = false;  // kBigInt: `text` holds two's-complement little-endian bytes
  std::int64_t integer = 0;     // kInt, kBool (0/1), kExtension
  double real = 0;
  std::string text;
  std::string name;
  std::vector<ValueId> items;
  std::vector<ValueId> entries;   // dict pairs; SETITEMS onto a recorded call (an OrderedDict)
  std::vector<ValueId> appended;  // APPEND(S) onto a recorded call
  ValueId state = kNoValue;       // the last BUILD state
};

}  // namespace tarnwick::pickle
