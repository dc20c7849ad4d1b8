// What the pickle machine draws from the decode budget, and the nesting its readers refuse.
#include <gtest/gtest.h>

#include "pickle/machine.h"
#include "pickle_builder.h"
#include "pt/pickled_tensors.h"

namespace tarnwick {
namespace {

using pickle::Machine;
using pickle::ValueId;
using testing::PickleBuilder;

// `levels` empty lists, each appended to the one below: [[[...]]].
std::string nested_lists(int levels) {
  PickleBuilder pickle;
  pickle.proto(2);
  for (int i = 0; i < levels; ++i) pickle.op(']');
  for (int i = 1; i < levels; ++i) pickle.op('a');
  return pickle.stop().str();
}

TEST(PickleDecodeBudget, EveryObjectAndMemoEntryIsDrawn) {
  struct Case {
    const char* name;
    std::string bytes;
    std::uint64_t drawn;
  };
  const std::vector<Case> cases = {
      {"a list of three ints",
       PickleBuilder().proto(2).op(']').mark().integer(1).integer(2).integer(3).op('e').stop().str(), 4},
      {"memoized and fetched twice",
       PickleBuilder().proto(2).op(']').binput(0).op('0').binget(0).binget(0).op(0x86).stop().str(), 1 + 1 + 1},
      {"nested lists", nested_lists(1000), 1000},
  };
  for (const Case& c : cases) {
    DecodeBudget budget(c.bytes.size());
    Machine machine(budget);
    ASSERT_TRUE(machine.run(c.bytes).is_ok()) << c.name;
    EXPECT_EQ(budget.drawn(), c.drawn) << c.name;
    EXPECT_EQ(budget.drawn(), machine.stats().values_built + machine.stats().memo_size) << c.name;
  }
}

TEST(PickleDecodeBudget, PicklesSharingOneBudgetAreRefusedPastIt) {
  PickleBuilder many;
  for (int i = 0; i < 40000; ++i) many.none().op('0');
  many.none().stop();
  DecodeBudget budget(0);
  Machine machine(budget);
  ASSERT_TRUE(machine.run(many.str()).is_ok());
  EXPECT_EQ(budget.drawn(), 40001u);
  Result<ValueId> second = machine.run(many.str());
  ASSERT_FALSE(second.is_ok());
  EXPECT_EQ(second.message(),
            "decoding pickle objects exceeded the budget of 65536 elements for 0 input bytes (NONE at offset 51070)");
  EXPECT_EQ(budget.drawn(), 65536u);
}

TEST(PickleDecodeBudget, DeeplyNestedListsBuildButAreNotWalkedPastTheNestingLimit) {
  std::string bytes = nested_lists(100000);
  DecodeBudget budget(bytes.size());
  Machine machine(budget);
  machine.limit_memory_to_file(std::uint64_t{1} << 30);  // as inside a large checkpoint
  Result<ValueId> root = machine.run(bytes);
  ASSERT_TRUE(root.is_ok()) << root.message();
  EXPECT_EQ(budget.drawn(), 100000u);
  Result<std::vector<PickledTensor>> tensors = collect_pickled_tensors(machine, root.value());
  ASSERT_FALSE(tensors.is_ok());
  EXPECT_EQ(tensors.message(),
            "the pickle nests values more than " + std::to_string(DecodeBudget::kMaxValueNesting) + " deep");

  std::string shallow = nested_lists(static_cast<int>(DecodeBudget::kMaxValueNesting));
  Machine fits;
  Result<ValueId> shallow_root = fits.run(shallow);
  ASSERT_TRUE(shallow_root.is_ok());
  EXPECT_TRUE(collect_pickled_tensors(fits, shallow_root.value()).is_ok());
}

// The values a pickle builds take memory in proportion to the file they come from: a small file
// of nothing but empty lists is refused before its values outgrow 3x the file and 16 MB.
TEST(PickleDecodeBudget, ValuesStayWithinTheirShareOfMemory) {
  struct Case {
    int levels;
    std::uint64_t file_bytes;
    bool decoded;
  };
  for (const Case& c : {Case{1000, 0, true}, Case{100000, 0, false}, Case{100000, std::uint64_t{1} << 30, true}}) {
    SCOPED_TRACE(std::to_string(c.levels) + " levels in a file of " + std::to_string(c.file_bytes) + " bytes");
    std::string bytes = nested_lists(c.levels);
    Machine machine;
    if (c.file_bytes) machine.limit_memory_to_file(c.file_bytes);
    Result<ValueId> root = machine.run(bytes);
    std::uint64_t cap = Machine::memory_cap_for(c.file_bytes ? c.file_bytes : bytes.size());
    EXPECT_EQ(root.is_ok(), c.decoded) << (root.is_ok() ? "" : root.message());
    if (!c.decoded) {
      EXPECT_TRUE(root.message().starts_with("pickle objects would take more than " + std::to_string(cap >> 20) +
                                             " MiB of memory (EMPTY_LIST at offset "))
          << root.message();
      EXPECT_LT(machine.value_count(), static_cast<std::size_t>(c.levels));
    }
    // Checked after every opcode, so at most one opcode's growth (a stack doubling) past the cap.
    EXPECT_LE(machine.memory_used(), cap + cap / 8);
  }
}

}  // namespace
}  // namespace tarnwick
