#include "pickle/machine.h"

#include <gtest/gtest.h>

#include "pickle/opcodes.h"
#include "pickle_builder.h"

namespace tarnwick::pickle {
namespace {

using testing::PickleBuilder;

// A Python-like rendering of a built value, for whole-value comparisons.
std::string describe(const Machine& m, ValueId id, int depth = 0) {
  if (depth > 6) return "...";
  const Value& v = m.at(id);
  auto list = [&](const std::vector<ValueId>& ids, const char* open, const char* close) {
    std::string out = open;
    for (std::size_t i = 0; i < ids.size(); ++i) out += (i ? ", " : "") + describe(m, ids[i], depth + 1);
    return out + close;
  };
  auto pairs = [&](const std::vector<ValueId>& ids) {
    std::string out = "{";
    for (std::size_t i = 0; i + 1 < ids.size(); i += 2) {
      out += (i ? ", " : "") + describe(m, ids[i], depth + 1) + ": " + describe(m, ids[i + 1], depth + 1);
    }
    return out + "}";
  };
  switch (v.kind) {
    case Kind::kNone: return "None";
    case Kind::kBool: return v.integer ? "True" : "False";
    case Kind::kInt: return std::to_string(v.integer);
    case Kind::kBigInt: return v.big_int_binary ? "long(" + std::to_string(v.text.size()) + " bytes)" : v.text + "L";
    case Kind::kFloat: return std::to_string(v.real);
    case Kind::kBytes: return "b'" + v.text + "'";
    case Kind::kStr: return "'" + v.text + "'";
    case Kind::kTuple: return list(v.items, "(", ")");
    case Kind::kList: return list(v.items, "[", "]");
    case Kind::kSet: return list(v.items, "set(", ")");
    case Kind::kFrozenSet: return list(v.items, "frozenset(", ")");
    case Kind::kDict: return pairs(v.entries);
    case Kind::kGlobal: return v.text + "." + v.name;
    case Kind::kPersistentRef: return "pid" + describe(m, v.items[0], depth + 1);
    case Kind::kExtension: return "ext(" + std::to_string(v.integer) + ")";
    case Kind::kBuffer: return "buffer";
    case Kind::kCall: {
      std::string out = describe(m, v.items[0], depth + 1) + list({v.items.begin() + 1, v.items.end()}, "(", ")");
      if (!v.entries.empty()) out += pairs(v.entries);
      if (!v.appended.empty()) out += list(v.appended, "+[", "]");
      if (v.state != kNoValue) out += " state=" + describe(m, v.state, depth + 1);
      return out;
    }
  }
  return "?";
}

std::string run_and_describe(const std::string& bytes) {
  Machine machine;
  Result<ValueId> root = machine.run(bytes);
  if (!root.is_ok()) return "error: " + root.message();
  return describe(machine, root.value());
}

struct Case {
  const char* name;
  std::string bytes;
  const char* expected;
};

TEST(PickleMachine, EveryEncodingOfScalarsAndContainers) {
  const std::vector<Case> cases = {
      {"protocol 0 INT and bools", "(I42\nI-7\nI01\nI00\ntp0\n.", "(42, -7, True, False)"},
      {"protocol 0 LONG, small and big", "(L5L\nL123456789012345678901234567890L\nt.", "(5, 123456789012345678901234567890L)"},
      {"protocol 0 FLOAT and STRING escapes", "(F1.5\nS'a\\nb\\x41\\101'\nS\"q'\"\nt.", "(1.500000, 'a\nbAA', 'q'')"},
      {"protocol 0 UNICODE escapes to UTF-8", "V\\u00e9x\\U0001F600\n.", "'\xc3\xa9x\xf0\x9f\x98\x80'"},
      {"protocol 0 list, dict, memo by text", "((lp0\nI1\naI2\na(dp1\nS'k'\np2\ng2\nsg0\nt.",
       "([1, 2], {'k': 'k'}, [1, 2])"},
      {"protocol 1 binary ints", PickleBuilder().mark().integer(7).integer(300).integer(-2).integer(70000).op('t').stop().str(),
       "(7, 300, -2, 70000)"},
      {"protocol 1 BINSTRING, SHORT_BINSTRING, BINUNICODE",
       PickleBuilder().mark().op('T').le(2, 4).raw("ab").op('U').le(1, 1).raw("c").unicode("d").op('t').stop().str(),
       "('ab', 'c', 'd')"},
      {"protocol 1 EMPTY_DICT and SETITEMS", PickleBuilder().op('}').mark().short_unicode("a").integer(1).short_unicode("b").op(']').op('u').stop().str(),
       "{'a': 1, 'b': []}"},
      {"protocol 2 LONG1 small, negative and 10-byte", PickleBuilder().proto(2).op(0x8a).le(2, 1).le(0x0100, 2).op(0x8a).le(1, 1).le(0xFF, 1).op(0x8a).le(10, 1).raw("0123456789").op(0x87).stop().str(),
       "(256, -1, long(10 bytes))"},
      {"protocol 2 LONG4 and empty LONG1", PickleBuilder().proto(2).op(0x8b).le(1, 4).le(5, 1).op(0x8a).le(0, 1).op(0x86).stop().str(), "(5, 0)"},
      {"protocol 2 TUPLE1..3, NEWTRUE/NEWFALSE, BINFLOAT", PickleBuilder().proto(2).op(0x88).op(0x85).op(0x89).none().op(0x86).op('G').raw(std::string("\x3f\xf8\0\0\0\0\0\0", 8)).integer(1).integer(2).op(0x87).op(0x87).stop().str(),
       "((True), (False, None), (1.500000, 1, 2))"},
      {"protocol 3 BINBYTES and SHORT_BINBYTES", PickleBuilder().proto(3).op('B').le(2, 4).raw("xy").op('C').le(1, 1).raw("z").op(0x86).stop().str(), "(b'xy', b'z')"},
      {"protocol 4 FRAME around the body", PickleBuilder().proto(4).frame(3).integer(7).stop().str(), "7"},
      {"protocol 4 sets and memo", PickleBuilder().proto(4).mark().op(0x8d).le(1, 8).raw("u").op(0x94).op(0x8e).le(1, 8).raw("b").op(0x8f).mark().integer(3).op(0x90).mark().integer(4).op(0x91).op('h').le(0, 1).op('t').stop().str(),
       "('u', b'b', set(3), frozenset(4), 'u')"},
      {"protocol 5 BYTEARRAY8 and buffers", PickleBuilder().proto(5).op(0x96).le(1, 8).raw("q").op(0x97).op(0x98).op(0x86).stop().str(), "(b'q', buffer)"},
      {"LONG_BINPUT/LONG_BINGET and BINPUT/BINGET", PickleBuilder().proto(2).short_unicode("s").op('r').le(1000, 4).op('0').op('j').le(1000, 4).binput(3).binget(3).op(0x86).stop().str(),
       "('s', 's')"},
      {"POP, POP_MARK, DUP", PickleBuilder().integer(1).mark().integer(2).integer(3).op('1').op('2').op(0x86).integer(9).op('0').stop().str(), "(1, 1)"},
      {"GLOBAL, STACK_GLOBAL, REDUCE, BUILD", PickleBuilder().proto(2).mark().global("m", "f").integer(1).op(0x85).op('R').stack_global("a.b", "C").op(')').op(0x81).op('}').op('b').op('t').stop().str(),
       "(m.f((1)), a.b.C(()) state={})"},
      {"INST and OBJ", PickleBuilder().mark().integer(1).line('i', "mod\ncls").mark().global("m", "K").integer(2).op('o').op(0x86).stop().str(),
       "(mod.cls((1)), m.K((2)))"},
      {"BINPERSID", PickleBuilder().mark().short_unicode("storage").integer(3).op('t').op('Q').stop().str(), "pid('storage', 3)"},
      {"NEWOBJ_EX, EXT codes, PERSID", PickleBuilder().proto(4).global("m", "K").op(')').op('}').op(0x92).op(0x83).le(300, 2).line('P', "abc").op(0x87).stop().str(),
       "(m.K((), {}), ext(300), pid'abc')"},
      {"SETITEMS and APPENDS onto a recorded call", PickleBuilder().proto(2).global("collections", "OrderedDict").op(')').op('R').mark().short_unicode("w").integer(1).op('u').mark().integer(5).op('e').stop().str(),
       "collections.OrderedDict(()){'w': 1}+[5]"},
      {"STOP returns the value above an open MARK", PickleBuilder().integer(1).mark().integer(2).stop().str(), "2"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_and_describe(c.bytes), c.expected) << c.name;
}

TEST(PickleMachine, MalformedPicklesFailWithTheirOffset) {
  const std::vector<Case> cases = {
      {"empty", "", "error: pickle ends without a STOP opcode"},
      {"protocol marker alone", "\x80", "error: pickle ends inside the argument of PROTO at offset 0"},
      {"unknown opcode", PickleBuilder().proto(2).op(0xff).str(), "error: unknown opcode 0xff at offset 2"},
      {"BINUNICODE longer than the pickle", PickleBuilder().op('X').le(100, 4).raw("ab").str(),
       "error: pickle ends inside the argument of BINUNICODE at offset 0"},
      {"text line without newline", "I12", "error: pickle ends inside the text line of INT at offset 0"},
      {"unsupported protocol", PickleBuilder().proto(6).none().stop().str(), "error: unsupported pickle protocol 6 (PROTO at offset 0)"},
      {"FRAME past the end", PickleBuilder().proto(4).frame(1000).none().stop().str(),
       "error: FRAME at offset 2 runs past the end of the pickle"},
      {"stack underflow", PickleBuilder().op('R').str(), "error: stack underflow (REDUCE at offset 0)"},
      {"unset memo entry", PickleBuilder().binget(4).str(), "error: memo entry 4 is not set (BINGET at offset 0)"},
      {"STACK_GLOBAL of a non-string", PickleBuilder().integer(1).short_unicode("x").op(0x93).str(),
       "error: STACK_GLOBAL operands are not strings (STACK_GLOBAL at offset 5)"},
      {"SETITEM onto a list", PickleBuilder().op(']').integer(1).integer(2).op('s').str(),
       "error: cannot set items on this value (SETITEM at offset 5)"},
      {"odd DICT", PickleBuilder().mark().integer(1).op('d').str(), "error: DICT with an odd number of items (DICT at offset 3)"},
      {"INT that is no number", "Iab\n.", "error: INT argument is not an integer (INT at offset 0)"},
      {"STOP on an empty stack", ".", "error: STOP with an empty stack at offset 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_and_describe(c.bytes), c.expected) << c.name;
}

TEST(PickleMachine, EveryDocumentedOpcodeIsKnown) {
  int known = 0;
  for (int code = 0; code < 256; ++code) known += is_known_opcode(static_cast<std::uint8_t>(code));
  EXPECT_EQ(known, 68);  // pickletools documents 68 opcodes for protocols 0 to 5
  EXPECT_EQ(opcode_name(0x93), "STACK_GLOBAL");
  EXPECT_EQ(opcode_name(0x99), "unknown opcode 0x99");
}

// Hostile shapes: everything built stays within the pickle's length.
TEST(PickleMachine, WorkIsBoundedByThePickleLength) {
  PickleBuilder nested;
  nested.op(')');
  for (int i = 0; i < 100000; ++i) nested.op('2').op(0x86);  // t = (t, t): a tree of 2^100000 leaves
  nested.stop();
  Machine machine;
  machine.limit_memory_to_file(std::uint64_t{1} << 30);  // as inside a large checkpoint
  std::string bytes = nested.str();
  ASSERT_TRUE(machine.run(bytes).is_ok());
  EXPECT_EQ(machine.stats().steps, 200002u);
  EXPECT_EQ(machine.stats().values_built, 100001u);
  EXPECT_LE(machine.stats().max_stack_depth, 2u);

  PickleBuilder memo;
  memo.none().op('r').le(0xFFFFFFFF, 4);
  for (int i = 0; i < 1000; ++i) memo.op('j').le(0xFFFFFFFF, 4).op('r').le(i, 4);
  memo.stop();
  Machine sparse;
  ASSERT_TRUE(sparse.run(memo.str()).is_ok());
  EXPECT_EQ(sparse.stats().memo_size, 1001u);
  EXPECT_EQ(sparse.stats().max_stack_depth, 1001u);
  EXPECT_LE(sparse.stats().values_built, memo.str().size());

  PickleBuilder marks;
  for (int i = 0; i < 50000; ++i) marks.mark();
  Machine deep;
  EXPECT_FALSE(deep.run(marks.str()).is_ok());
  EXPECT_EQ(deep.stats().max_stack_depth, 50000u);
  EXPECT_EQ(deep.stats().values_built, 0u);
}

}  // namespace
}  // namespace tarnwick::pickle
