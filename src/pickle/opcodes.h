// Pickle opcodes of protocols 0 to 5, decoded one at a time with bounds-checked arguments.
// Nothing here builds values: the value machine and the import scan sit on top.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick::pickle {

namespace op {
inline constexpr std::uint8_t kMark = '(', kStop = '.', kPop = '0', kPopMark = '1', kDup = '2', kFloat = 'F',
                              kInt = 'I', kBinInt = 'J', kBinInt1 = 'K', kLong = 'L', kBinInt2 = 'M', kNone = 'N',
                              kPersId = 'P', kBinPersId = 'Q', kReduce = 'R', kString = 'S', kBinString = 'T',
                              kShortBinString = 'U', kUnicode = 'V', kBinUnicode = 'X', kAppend = 'a', kBuild = 'b',
                              kGlobal = 'c', kDict = 'd', kEmptyDict = '}', kAppends = 'e', kGet = 'g',
                              kBinGet = 'h', kInst = 'i', kLongBinGet = 'j', kList = 'l', kEmptyList = ']',
                              kObj = 'o', kPut = 'p', kBinPut = 'q', kLongBinPut = 'r', kSetItem = 's',
                              kTuple = 't', kEmptyTuple = ')', kSetItems = 'u', kBinFloat = 'G', kProto = 0x80,
                              kNewObj = 0x81, kExt1 = 0x82, kExt2 = 0x83, kExt4 = 0x84, kTuple1 = 0x85,
                              kTuple2 = 0x86, kTuple3 = 0x87, kNewTrue = 0x88, kNewFalse = 0x89, kLong1 = 0x8a,
                              kLong4 = 0x8b, kBinBytes = 'B', kShortBinBytes = 'C', kShortBinUnicode = 0x8c,
                              kBinUnicode8 = 0x8d, kBinBytes8 = 0x8e, kEmptySet = 0x8f, kAddItems = 0x90,
                              kFrozenSet = 0x91, kNewObjEx = 0x92, kStackGlobal = 0x93, kMemoize = 0x94,
                              kFrame = 0x95, kByteArray8 = 0x96, kNextBuffer = 0x97, kReadonlyBuffer = 0x98;
}  // namespace op

// The shape of an opcode's argument, as pickletools names them.
enum class ArgKind {
  kNone,
  kUint1,        // BININT1, BINGET, BINPUT, EXT1, PROTO
  kUint2,        // BININT2, EXT2
  kInt4,         // BININT (signed)
  kUint4,        // LONG_BINGET, LONG_BINPUT, EXT4
  kUint8,        // FRAME
  kFloat8,       // BINFLOAT, big-endian
  kLine,         // one text line without its newline: INT, LONG, FLOAT, STRING, UNICODE, GET, PUT, PERSID
  kLinePair,     // two lines: GLOBAL and INST (module, name)
  kCounted1,     // a length byte, then the payload
  kCounted4,     // a 4-byte length, then the payload
  kCounted8,     // an 8-byte length, then the payload
};

struct Opcode {
  std::uint8_t code = 0;
  std::uint64_t position = 0;   // offset of the opcode byte in the pickle
  std::uint64_t integer = 0;    // fixed-width integer arguments; BININT sign-extended into int64 bits
  double real = 0;              // BINFLOAT
  std::string_view text;        // line and counted payloads (LONG1/LONG4: the two's-complement bytes)
  std::string_view second;      // the name line of GLOBAL and INST
};

// Argument shape of a code, or nothing for a byte that is no opcode.
bool is_known_opcode(std::uint8_t code);
ArgKind argument_kind(std::uint8_t code);
std::string opcode_name(std::uint8_t code);

// Reads opcodes from a pickle held in memory; `next` fails on an unknown code or an argument
// that runs past the end, naming the offset.
class OpcodeReader {
 public:
  explicit OpcodeReader(std::string_view bytes, std::uint64_t start = 0) : bytes_(bytes), at_(start) {}
  Result<Opcode> next();
  std::uint64_t position() const { return at_; }
  // Moves on to `position` (at or past the current one): bytes a loader reads outside the opcodes.
  void skip_to(std::uint64_t position) { at_ = position; }
  bool at_end() const { return at_ >= bytes_.size(); }
  // True once `next` failed because the bytes ran out (more bytes might have completed it).
  bool truncated() const { return truncated_; }

 private:
  Result<std::string_view> take(std::uint64_t length, std::uint64_t opcode_position);
  Result<std::string_view> take_line(std::uint64_t opcode_position);
  Result<std::uint64_t> take_le(int width, std::uint64_t opcode_position);

  std::string_view bytes_;
  std::uint64_t at_;
  bool truncated_ = false;
};

}  // namespace tarnwick::pickle
