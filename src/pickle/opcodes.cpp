#include "pickle/opcodes.h"

#include <array>
#include <cstring>

namespace tarnwick::pickle {

namespace {

struct OpcodeInfo {
  std::uint8_t code;
  const char* name;
  ArgKind kind;
};

constexpr std::array<OpcodeInfo, 68> kOpcodes{{
    {op::kMark, "MARK", ArgKind::kNone},
    {op::kStop, "STOP", ArgKind::kNone},
    {op::kPop, "POP", ArgKind::kNone},
    {op::kPopMark, "POP_MARK", ArgKind::kNone},
    {op::kDup, "DUP", ArgKind::kNone},
    {op::kFloat, "FLOAT", ArgKind::kLine},
    {op::kInt, "INT", ArgKind::kLine},
    {op::kBinInt, "BININT", ArgKind::kInt4},
    {op::kBinInt1, "BININT1", ArgKind::kUint1},
    {op::kLong, "LONG", ArgKind::kLine},
    {op::kBinInt2, "BININT2", ArgKind::kUint2},
    {op::kNone, "NONE", ArgKind::kNone},
    {op::kPersId, "PERSID", ArgKind::kLine},
    {op::kBinPersId, "BINPERSID", ArgKind::kNone},
    {op::kReduce, "REDUCE", ArgKind::kNone},
    {op::kString, "STRING", ArgKind::kLine},
    {op::kBinString, "BINSTRING", ArgKind::kCounted4},
    {op::kShortBinString, "SHORT_BINSTRING", ArgKind::kCounted1},
    {op::kUnicode, "UNICODE", ArgKind::kLine},
    {op::kBinUnicode, "BINUNICODE", ArgKind::kCounted4},
    {op::kAppend, "APPEND", ArgKind::kNone},
    {op::kBuild, "BUILD", ArgKind::kNone},
    {op::kGlobal, "GLOBAL", ArgKind::kLinePair},
    {op::kDict, "DICT", ArgKind::kNone},
    {op::kEmptyDict, "EMPTY_DICT", ArgKind::kNone},
    {op::kAppends, "APPENDS", ArgKind::kNone},
    {op::kGet, "GET", ArgKind::kLine},
    {op::kBinGet, "BINGET", ArgKind::kUint1},
    {op::kInst, "INST", ArgKind::kLinePair},
    {op::kLongBinGet, "LONG_BINGET", ArgKind::kUint4},
    {op::kList, "LIST", ArgKind::kNone},
    {op::kEmptyList, "EMPTY_LIST", ArgKind::kNone},
    {op::kObj, "OBJ", ArgKind::kNone},
    {op::kPut, "PUT", ArgKind::kLine},
    {op::kBinPut, "BINPUT", ArgKind::kUint1},
    {op::kLongBinPut, "LONG_BINPUT", ArgKind::kUint4},
    {op::kSetItem, "SETITEM", ArgKind::kNone},
    {op::kTuple, "TUPLE", ArgKind::kNone},
    {op::kEmptyTuple, "EMPTY_TUPLE", ArgKind::kNone},
    {op::kSetItems, "SETITEMS", ArgKind::kNone},
    {op::kBinFloat, "BINFLOAT", ArgKind::kFloat8},
    {op::kProto, "PROTO", ArgKind::kUint1},
    {op::kNewObj, "NEWOBJ", ArgKind::kNone},
    {op::kExt1, "EXT1", ArgKind::kUint1},
    {op::kExt2, "EXT2", ArgKind::kUint2},
    {op::kExt4, "EXT4", ArgKind::kUint4},
    {op::kTuple1, "TUPLE1", ArgKind::kNone},
    {op::kTuple2, "TUPLE2", ArgKind::kNone},
    {op::kTuple3, "TUPLE3", ArgKind::kNone},
    {op::kNewTrue, "NEWTRUE", ArgKind::kNone},
    {op::kNewFalse, "NEWFALSE", ArgKind::kNone},
    {op::kLong1, "LONG1", ArgKind::kCounted1},
    {op::kLong4, "LONG4", ArgKind::kCounted4},
    {op::kBinBytes, "BINBYTES", ArgKind::kCounted4},
    {op::kShortBinBytes, "SHORT_BINBYTES", ArgKind::kCounted1},
    {op::kShortBinUnicode, "SHORT_BINUNICODE", ArgKind::kCounted1},
    {op::kBinUnicode8, "BINUNICODE8", ArgKind::kCounted8},
    {op::kBinBytes8, "BINBYTES8", ArgKind::kCounted8},
    {op::kEmptySet, "EMPTY_SET", ArgKind::kNone},
    {op::kAddItems, "ADDITEMS", ArgKind::kNone},
    {op::kFrozenSet, "FROZENSET", ArgKind::kNone},
    {op::kNewObjEx, "NEWOBJ_EX", ArgKind::kNone},
    {op::kStackGlobal, "STACK_GLOBAL", ArgKind::kNone},
    {op::kMemoize, "MEMOIZE", ArgKind::kNone},
    {op::kFrame, "FRAME", ArgKind::kUint8},
    {op::kByteArray8, "BYTEARRAY8", ArgKind::kCounted8},
    {op::kNextBuffer, "NEXT_BUFFER", ArgKind::kNone},
    {op::kReadonlyBuffer, "READONLY_BUFFER", ArgKind::kNone},
}};

const OpcodeInfo* find_info(std::uint8_t code) {
  static const std::array<const OpcodeInfo*, 256> by_code = [] {
    std::array<const OpcodeInfo*, 256> table{};
    for (const OpcodeInfo& info : kOpcodes) table[info.code] = &info;
    return table;
  }();
  return by_code[code];
}

std::string hex_byte(std::uint8_t code) {
  const char* digits = "0123456789abcdef";
  return std::string("0x") + digits[code >> 4] + digits[code & 15];
}

}  // namespace

bool is_known_opcode(std::uint8_t code) { return find_info(code) != nullptr; }

ArgKind argument_kind(std::uint8_t code) {
  const OpcodeInfo* info = find_info(code);
  return info == nullptr ? ArgKind::kNone : info->kind;
}

std::string opcode_name(std::uint8_t code) {
  const OpcodeInfo* info = find_info(code);
  return info == nullptr ? "unknown opcode " + hex_byte(code) : info->name;
}

Result<std::string_view> OpcodeReader::take(std::uint64_t length, std::uint64_t opcode_position) {
  if (length > bytes_.size() - at_) {
    truncated_ = true;
    return fail("pickle ends inside the argument of " + opcode_name(static_cast<std::uint8_t>(bytes_[opcode_position])) +
                " at offset " + std::to_string(opcode_position));
  }
  std::string_view taken = bytes_.substr(at_, length);
  at_ += length;
  return taken;
}

Result<std::string_view> OpcodeReader::take_line(std::uint64_t opcode_position) {
  std::size_t end = bytes_.find('\n', at_);
  if (end == std::string_view::npos) {
    truncated_ = true;
    return fail("pickle ends inside the text line of " +
                opcode_name(static_cast<std::uint8_t>(bytes_[opcode_position])) + " at offset " +
                std::to_string(opcode_position));
  }
  std::string_view line = bytes_.substr(at_, end - at_);
  at_ = end + 1;
  return line;
}

Result<std::uint64_t> OpcodeReader::take_le(int width, std::uint64_t opcode_position) {
  Result<std::string_view> raw = take(width, opcode_position);
  if (!raw.is_ok()) return raw.error();
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(raw.value()[i]);
  return value;
}

Result<Opcode> OpcodeReader::next() {
  if (at_end()) {
    truncated_ = true;
    return fail("pickle ends without a STOP opcode");
  }
  Opcode opcode;
  opcode.position = at_;
  opcode.code = static_cast<std::uint8_t>(bytes_[at_]);
  const OpcodeInfo* info = find_info(opcode.code);
  if (info == nullptr) {
    return fail("unknown opcode " + hex_byte(opcode.code) + " at offset " + std::to_string(opcode.position));
  }
  ++at_;
  auto fixed = [&](int width) -> Status {
    Result<std::uint64_t> value = take_le(width, opcode.position);
    if (!value.is_ok()) return value.error();
    opcode.integer = value.value();
    return Status::ok();
  };
  auto counted = [&](int width) -> Status {
    Result<std::uint64_t> length = take_le(width, opcode.position);
    if (!length.is_ok()) return length.error();
    Result<std::string_view> payload = take(length.value(), opcode.position);
    if (!payload.is_ok()) return payload.error();
    opcode.integer = length.value();
    opcode.text = payload.value();
    return Status::ok();
  };
  Status status;
  switch (info->kind) {
    case ArgKind::kNone:
      break;
    case ArgKind::kUint1:
      status = fixed(1);
      break;
    case ArgKind::kUint2:
      status = fixed(2);
      break;
    case ArgKind::kInt4:
      status = fixed(4);
      if (status.is_ok()) opcode.integer = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(opcode.integer)));
      break;
    case ArgKind::kUint4:
      status = fixed(4);
      break;
    case ArgKind::kUint8:
      status = fixed(8);
      break;
    case ArgKind::kFloat8: {
      Result<std::string_view> raw = take(8, opcode.position);
      if (!raw.is_ok()) return raw.error();
      std::uint64_t bits = 0;
      for (char c : raw.value()) bits = (bits << 8) | static_cast<std::uint8_t>(c);
      std::memcpy(&opcode.real, &bits, sizeof bits);
      break;
    }
    case ArgKind::kLine:
    case ArgKind::kLinePair: {
      Result<std::string_view> line = take_line(opcode.position);
      if (!line.is_ok()) return line.error();
      opcode.text = line.value();
      if (info->kind == ArgKind::kLinePair) {
        Result<std::string_view> name = take_line(opcode.position);
        if (!name.is_ok()) return name.error();
        opcode.second = name.value();
      }
      break;
    }
    case ArgKind::kCounted1:
      status = counted(1);
      break;
    case ArgKind::kCounted4:
      status = counted(4);
      break;
    case ArgKind::kCounted8:
      status = counted(8);
      break;
  }
  if (!status.is_ok()) return status.error();
  return opcode;
}

}  // namespace tarnwick::pickle
