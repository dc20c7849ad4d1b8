// The value-building pickle machine: runs one pickle's opcodes over inert values. It never
// imports or calls anything; every value, stack slot and memo entry comes from at least one
// opcode byte, so all of them are bounded by the pickle's length.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/decode_budget.h"
#include "base/status.h"
#include "pickle/opcodes.h"
#include "pickle/value.h"

namespace tarnwick::pickle {

struct MachineStats {
  std::uint64_t steps = 0;  // opcodes executed
  std::uint64_t values_built = 0;
  std::uint64_t max_stack_depth = 0;  // values and marks together
  std::uint64_t memo_size = 0;
};

class Machine {
 public:
  // Without a budget of its own the machine draws from one sized by the bytes of its first run.
  Machine() = default;
  explicit Machine(DecodeBudget& budget) : shared_budget_(&budget) {}

  // The values, stack and memo may take memory_cap_for(the file they come from): their share of
  // the 4x the file and 32 MB a reader may take. Without a file size, the bytes of the first run
  // stand for the file.
  void limit_memory_to_file(std::uint64_t file_bytes) { memory_cap_ = memory_cap_for(file_bytes); }
  static std::uint64_t memory_cap_for(std::uint64_t file_bytes);
  // What the values, stack and memo take, as the machine counts it.
  std::uint64_t memory_used() const;

  // Runs the pickle starting at `start` up to and including its STOP; `end()` then tells
  // where the next pickle (or raw data) begins. Each run starts with an empty stack and memo;
  // values of earlier runs stay readable.
  Result<ValueId> run(std::string_view bytes, std::uint64_t start = 0);

  // Called after each BUILD with the value built and the offset past the opcode; answers where
  // the next opcode is (joblib's unpickler reads an array's bytes from the stream there).
  using AfterBuild = std::function<Result<std::uint64_t>(ValueId built, std::uint64_t next)>;
  void set_after_build(AfterBuild hook) { after_build_ = std::move(hook); }

  const Value& at(ValueId id) const { return values_[id]; }
  std::size_t value_count() const { return values_.size(); }
  std::uint64_t end() const { return end_; }
  const MachineStats& stats() const { return stats_; }
  // True when the last run failed only because the bytes ended before its STOP.
  bool truncated() const { return truncated_; }

 private:
  ValueId make(Value value);
  Status push(ValueId id);
  Result<ValueId> pop();
  Result<ValueId> top() const;
  Result<std::vector<ValueId>> pop_to_mark();
  Status execute(const Opcode& opcode);
  Status execute_container(const Opcode& opcode);
  Status execute_call(const Opcode& opcode);
  Status execute_memo(const Opcode& opcode);
  Result<ValueId> scalar(const Opcode& opcode);
  DecodeBudget& budget(std::string_view bytes);
  // Draws the values and memo entries the last opcode added.
  Status draw_growth(DecodeBudget& budget, std::size_t values_before, std::size_t memo_before);

  Status check_memory() const;

  std::deque<Value> values_;  // grows in blocks: no copy of every value at each doubling
  std::vector<ValueId> stack_;
  std::vector<std::size_t> marks_;  // stack heights at each MARK
  std::unordered_map<std::uint64_t, ValueId> memo_;
  MachineStats stats_;
  std::uint64_t end_ = 0;
  bool truncated_ = false;
  std::uint64_t value_memory_ = 0;  // the values and what their strings and lists hold
  std::uint64_t memory_cap_ = 0;
  DecodeBudget* shared_budget_ = nullptr;
  AfterBuild after_build_;
  std::optional<DecodeBudget> own_budget_;
};

}  // namespace tarnwick::pickle
