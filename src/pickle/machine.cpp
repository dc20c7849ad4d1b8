#include "pickle/machine.h"

#include <algorithm>

#include "pickle/text_args.h"

namespace tarnwick::pickle {

namespace {

constexpr std::uint64_t kHighestProtocol = 5;

Value of_kind(Kind kind) {
  Value value;
  value.kind = kind;
  return value;
}

Value integer_value(std::int64_t integer) {
  Value value = of_kind(Kind::kInt);
  value.integer = integer;
  return value;
}

Value text_value(Kind kind, std::string text) {
  Value value = of_kind(kind);
  value.text = std::move(text);
  return value;
}

// LONG1 / LONG4 payload: two's-complement little-endian; up to 8 bytes fit an int64.
Value binary_long(std::string_view bytes) {
  if (bytes.size() > 8) {
    Value value = text_value(Kind::kBigInt, std::string(bytes));
    value.big_int_binary = true;
    return value;
  }
  std::uint64_t bits = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) bits = (bits << 8) | static_cast<std::uint8_t>(bytes[i]);
  if (!bytes.empty() && bytes.size() < 8 && (static_cast<std::uint8_t>(bytes.back()) & 0x80)) {
    bits |= ~std::uint64_t{0} << (8 * bytes.size());
  }
  return integer_value(static_cast<std::int64_t>(bits));
}

Result<Value> decimal_value(std::string_view text, const char* opcode) {
  if (std::optional<std::int64_t> integer = parse_decimal(text)) return integer_value(*integer);
  if (!is_decimal_integer(text)) return fail(std::string(opcode) + " argument is not an integer");
  if (text.back() == 'L') text.remove_suffix(1);
  return text_value(Kind::kBigInt, std::string(text));
}

Result<std::uint64_t> memo_index(std::string_view text, const char* opcode) {
  std::optional<std::int64_t> index = parse_decimal(text);
  if (!index || *index < 0) return fail(std::string(opcode) + " argument is not a memo index");
  return static_cast<std::uint64_t>(*index);
}

std::string at_offset(const Opcode& opcode) {
  return opcode_name(opcode.code) + " at offset " + std::to_string(opcode.position);
}

}  // namespace

namespace {

// What a string holds beyond the value itself (short strings live inside it).
std::uint64_t heap_bytes(const std::string& text) { return text.size() > 15 ? text.size() + 1 : 0; }
// A list slot, with the room a growing vector keeps spare.
constexpr std::uint64_t kSlotBytes = 2 * sizeof(ValueId);
// An entry of the memo's hash map: the node, its key and value, and the bucket.
constexpr std::uint64_t kMemoEntryBytes = 48;

}  // namespace

// The values' share of the 4x the file and 32 MB a reader may take; the rest holds the bytes they
// are built from and the program itself.
std::uint64_t Machine::memory_cap_for(std::uint64_t file_bytes) { return 3 * file_bytes + 16'000'000; }

std::uint64_t Machine::memory_used() const {
  return value_memory_ + stack_.capacity() * sizeof(ValueId) + marks_.capacity() * sizeof(std::size_t) +
         memo_.size() * kMemoEntryBytes;
}

Status Machine::check_memory() const {
  if (memory_used() <= memory_cap_) return Status::ok();
  return fail("pickle objects would take more than " + std::to_string(memory_cap_ >> 20) + " MiB of memory");
}

ValueId Machine::make(Value value) {
  value_memory_ += sizeof(Value) + heap_bytes(value.text) + heap_bytes(value.name) +
                   kSlotBytes * (value.items.size() + value.entries.size() + value.appended.size());
  values_.push_back(std::move(value));
  ++stats_.values_built;
  return static_cast<ValueId>(values_.size() - 1);
}

Status Machine::push(ValueId id) {
  stack_.push_back(id);
  stats_.max_stack_depth = std::max<std::uint64_t>(stats_.max_stack_depth, stack_.size() + marks_.size());
  return Status::ok();
}

Result<ValueId> Machine::pop() {
  std::size_t floor = marks_.empty() ? 0 : marks_.back();
  if (stack_.size() <= floor) return fail("stack underflow");
  ValueId id = stack_.back();
  stack_.pop_back();
  return id;
}

Result<ValueId> Machine::top() const {
  std::size_t floor = marks_.empty() ? 0 : marks_.back();
  if (stack_.size() <= floor) return fail("stack underflow");
  return stack_.back();
}

Result<std::vector<ValueId>> Machine::pop_to_mark() {
  if (marks_.empty()) return fail("no MARK on the stack");
  std::size_t floor = marks_.back();
  marks_.pop_back();
  std::vector<ValueId> items(stack_.begin() + static_cast<std::ptrdiff_t>(floor), stack_.end());
  stack_.resize(floor);
  return items;
}

Result<ValueId> Machine::scalar(const Opcode& opcode) {
  switch (opcode.code) {
    case op::kNone: return make(of_kind(Kind::kNone));
    case op::kNewTrue:
    case op::kNewFalse: {
      Value value = of_kind(Kind::kBool);
      value.integer = opcode.code == op::kNewTrue;
      return make(std::move(value));
    }
    case op::kInt: {
      if (opcode.text == "00" || opcode.text == "01") {
        Value value = of_kind(Kind::kBool);
        value.integer = opcode.text == "01";
        return make(std::move(value));
      }
      Result<Value> value = decimal_value(opcode.text, "INT");
      if (!value.is_ok()) return value.error();
      return make(value.take());
    }
    case op::kLong: {
      Result<Value> value = decimal_value(opcode.text, "LONG");
      if (!value.is_ok()) return value.error();
      return make(value.take());
    }
    case op::kBinInt:
    case op::kBinInt1:
    case op::kBinInt2: return make(integer_value(static_cast<std::int64_t>(opcode.integer)));
    case op::kLong1:
    case op::kLong4: return make(binary_long(opcode.text));
    case op::kFloat: {
      std::optional<double> real = parse_float_line(opcode.text);
      if (!real) return fail("FLOAT argument is not a number");
      Value value = of_kind(Kind::kFloat);
      value.real = *real;
      return make(std::move(value));
    }
    case op::kBinFloat: {
      Value value = of_kind(Kind::kFloat);
      value.real = opcode.real;
      return make(std::move(value));
    }
    case op::kString: {
      Result<std::string> text = unquote_string_literal(opcode.text);
      if (!text.is_ok()) return text.error();
      return make(text_value(Kind::kStr, text.take()));
    }
    case op::kUnicode: {
      Result<std::string> text = decode_raw_unicode_escape(opcode.text);
      if (!text.is_ok()) return text.error();
      return make(text_value(Kind::kStr, text.take()));
    }
    case op::kBinString:
    case op::kShortBinString:
    case op::kBinUnicode:
    case op::kShortBinUnicode:
    case op::kBinUnicode8: return make(text_value(Kind::kStr, std::string(opcode.text)));
    case op::kBinBytes:
    case op::kShortBinBytes:
    case op::kBinBytes8:
    case op::kByteArray8: return make(text_value(Kind::kBytes, std::string(opcode.text)));
    case op::kEmptyTuple: return make(of_kind(Kind::kTuple));
    case op::kEmptyList: return make(of_kind(Kind::kList));
    case op::kEmptyDict: return make(of_kind(Kind::kDict));
    case op::kEmptySet: return make(of_kind(Kind::kSet));
    case op::kNextBuffer: return make(of_kind(Kind::kBuffer));
    case op::kExt1:
    case op::kExt2:
    case op::kExt4: {
      Value value = of_kind(Kind::kExtension);
      value.integer = static_cast<std::int64_t>(opcode.integer);
      return make(std::move(value));
    }
    case op::kGlobal: {
      Value value = text_value(Kind::kGlobal, std::string(opcode.text));
      value.name = std::string(opcode.second);
      return make(std::move(value));
    }
    default: return kNoValue;
  }
}

Status Machine::execute_memo(const Opcode& opcode) {
  switch (opcode.code) {
    case op::kPut:
    case op::kBinPut:
    case op::kLongBinPut:
    case op::kMemoize: {
      std::uint64_t index = memo_.size();
      if (opcode.code == op::kPut) {
        Result<std::uint64_t> parsed = memo_index(opcode.text, "PUT");
        if (!parsed.is_ok()) return parsed.error();
        index = parsed.value();
      } else if (opcode.code != op::kMemoize) {
        index = opcode.integer;
      }
      Result<ValueId> value = top();
      if (!value.is_ok()) return value.error();
      memo_[index] = value.value();
      stats_.memo_size = memo_.size();
      return Status::ok();
    }
    default: {  // GET, BINGET, LONG_BINGET
      std::uint64_t index = opcode.integer;
      if (opcode.code == op::kGet) {
        Result<std::uint64_t> parsed = memo_index(opcode.text, "GET");
        if (!parsed.is_ok()) return parsed.error();
        index = parsed.value();
      }
      auto found = memo_.find(index);
      if (found == memo_.end()) return fail("memo entry " + std::to_string(index) + " is not set");
      return push(found->second);
    }
  }
}

Status Machine::execute_container(const Opcode& opcode) {
  switch (opcode.code) {
    case op::kTuple1:
    case op::kTuple2:
    case op::kTuple3: {
      Value tuple = of_kind(Kind::kTuple);
      tuple.items.resize(opcode.code - op::kTuple1 + 1);
      for (std::size_t i = tuple.items.size(); i-- > 0;) {
        Result<ValueId> item = pop();
        if (!item.is_ok()) return item.error();
        tuple.items[i] = item.value();
      }
      return push(make(std::move(tuple)));
    }
    case op::kTuple:
    case op::kList:
    case op::kFrozenSet:
    case op::kDict: {
      Result<std::vector<ValueId>> items = pop_to_mark();
      if (!items.is_ok()) return items.error();
      Kind kind = opcode.code == op::kTuple  ? Kind::kTuple
                  : opcode.code == op::kList ? Kind::kList
                  : opcode.code == op::kDict ? Kind::kDict
                                             : Kind::kFrozenSet;
      Value value = of_kind(kind);
      if (kind == Kind::kDict) {
        if (items.value().size() % 2 != 0) return fail("DICT with an odd number of items");
        value.entries = items.take();
      } else {
        value.items = items.take();
      }
      return push(make(std::move(value)));
    }
    case op::kAppend:
    case op::kAppends:
    case op::kAddItems: {
      std::vector<ValueId> items;
      if (opcode.code == op::kAppend) {
        Result<ValueId> item = pop();
        if (!item.is_ok()) return item.error();
        items.push_back(item.value());
      } else {
        Result<std::vector<ValueId>> popped = pop_to_mark();
        if (!popped.is_ok()) return popped.error();
        items = popped.take();
      }
      Result<ValueId> target = top();
      if (!target.is_ok()) return target.error();
      Value& value = values_[target.value()];
      bool fits = opcode.code == op::kAddItems ? value.kind == Kind::kSet : value.kind == Kind::kList;
      std::vector<ValueId>& into = fits ? value.items : value.appended;
      if (!fits && value.kind != Kind::kCall) return fail("cannot add items to this value");
      into.insert(into.end(), items.begin(), items.end());
      value_memory_ += kSlotBytes * items.size();
      return Status::ok();
    }
    default: {  // SETITEM, SETITEMS
      std::vector<ValueId> pairs;
      if (opcode.code == op::kSetItem) {
        Result<ValueId> value = pop();
        if (!value.is_ok()) return value.error();
        Result<ValueId> key = pop();
        if (!key.is_ok()) return key.error();
        pairs = {key.value(), value.value()};
      } else {
        Result<std::vector<ValueId>> popped = pop_to_mark();
        if (!popped.is_ok()) return popped.error();
        pairs = popped.take();
        if (pairs.size() % 2 != 0) return fail("SETITEMS with an odd number of items");
      }
      Result<ValueId> target = top();
      if (!target.is_ok()) return target.error();
      Value& dict = values_[target.value()];
      if (dict.kind != Kind::kDict && dict.kind != Kind::kCall) return fail("cannot set items on this value");
      dict.entries.insert(dict.entries.end(), pairs.begin(), pairs.end());
      value_memory_ += kSlotBytes * pairs.size();
      return Status::ok();
    }
  }
}

Status Machine::execute_call(const Opcode& opcode) {
  Value call = of_kind(Kind::kCall);
  switch (opcode.code) {
    case op::kStackGlobal: {
      Result<ValueId> name = pop();
      if (!name.is_ok()) return name.error();
      Result<ValueId> module = pop();
      if (!module.is_ok()) return module.error();
      if (values_[name.value()].kind != Kind::kStr || values_[module.value()].kind != Kind::kStr) {
        return fail("STACK_GLOBAL operands are not strings");
      }
      Value global = text_value(Kind::kGlobal, values_[module.value()].text);
      global.name = values_[name.value()].text;
      return push(make(std::move(global)));
    }
    case op::kReduce:
    case op::kNewObj: {
      Result<ValueId> args = pop();
      if (!args.is_ok()) return args.error();
      Result<ValueId> callable = pop();
      if (!callable.is_ok()) return callable.error();
      call.items = {callable.value(), args.value()};
      break;
    }
    case op::kNewObjEx: {
      Result<ValueId> kwargs = pop();
      if (!kwargs.is_ok()) return kwargs.error();
      Result<ValueId> args = pop();
      if (!args.is_ok()) return args.error();
      Result<ValueId> callable = pop();
      if (!callable.is_ok()) return callable.error();
      call.items = {callable.value(), args.value(), kwargs.value()};
      break;
    }
    case op::kInst:
    case op::kObj: {
      Result<std::vector<ValueId>> items = pop_to_mark();
      if (!items.is_ok()) return items.error();
      Value args = of_kind(Kind::kTuple);
      ValueId callable = kNoValue;
      if (opcode.code == op::kInst) {
        Value global = text_value(Kind::kGlobal, std::string(opcode.text));
        global.name = std::string(opcode.second);
        callable = make(std::move(global));
        args.items = items.take();
      } else {
        if (items.value().empty()) return fail("OBJ without a class");
        callable = items.value().front();
        args.items.assign(items.value().begin() + 1, items.value().end());
      }
      call.items = {callable, make(std::move(args))};
      break;
    }
    case op::kBuild: {
      Result<ValueId> state = pop();
      if (!state.is_ok()) return state.error();
      Result<ValueId> target = top();
      if (!target.is_ok()) return target.error();
      values_[target.value()].state = state.value();
      return Status::ok();
    }
    default: {  // PERSID, BINPERSID
      ValueId pid = kNoValue;
      if (opcode.code == op::kPersId) {
        pid = make(text_value(Kind::kStr, std::string(opcode.text)));
      } else {
        Result<ValueId> popped = pop();
        if (!popped.is_ok()) return popped.error();
        pid = popped.value();
      }
      Value ref = of_kind(Kind::kPersistentRef);
      ref.items = {pid};
      return push(make(std::move(ref)));
    }
  }
  return push(make(std::move(call)));
}

Status Machine::execute(const Opcode& opcode) {
  switch (opcode.code) {
    case op::kProto:
      if (opcode.integer > kHighestProtocol)
        return fail("unsupported pickle protocol " + std::to_string(opcode.integer));
      return Status::ok();
    case op::kFrame: return Status::ok();
    case op::kMark:
      marks_.push_back(stack_.size());
      stats_.max_stack_depth = std::max<std::uint64_t>(stats_.max_stack_depth, stack_.size() + marks_.size());
      return Status::ok();
    case op::kPop:
      if (!marks_.empty() && stack_.size() == marks_.back()) {
        marks_.pop_back();  // Python's unpickler pops a MARK when no value lies above it
        return Status::ok();
      }
      return pop().is_ok() ? Status::ok() : fail("stack underflow");
    case op::kPopMark: {
      Result<std::vector<ValueId>> dropped = pop_to_mark();
      return dropped.is_ok() ? Status::ok() : dropped.error();
    }
    case op::kDup: {
      Result<ValueId> value = top();
      if (!value.is_ok()) return value.error();
      return push(value.value());
    }
    case op::kReadonlyBuffer: return top().is_ok() ? Status::ok() : fail("stack underflow");
    case op::kPut:
    case op::kBinPut:
    case op::kLongBinPut:
    case op::kMemoize:
    case op::kGet:
    case op::kBinGet:
    case op::kLongBinGet: return execute_memo(opcode);
    case op::kTuple:
    case op::kTuple1:
    case op::kTuple2:
    case op::kTuple3:
    case op::kList:
    case op::kDict:
    case op::kFrozenSet:
    case op::kAppend:
    case op::kAppends:
    case op::kAddItems:
    case op::kSetItem:
    case op::kSetItems: return execute_container(opcode);
    case op::kStackGlobal:
    case op::kReduce:
    case op::kNewObj:
    case op::kNewObjEx:
    case op::kInst:
    case op::kObj:
    case op::kBuild:
    case op::kPersId:
    case op::kBinPersId: return execute_call(opcode);
    default: {
      Result<ValueId> value = scalar(opcode);
      if (!value.is_ok()) return value.error();
      if (value.value() == kNoValue) return fail("unhandled opcode");
      return push(value.value());
    }
  }
}

DecodeBudget& Machine::budget(std::string_view bytes) {
  if (shared_budget_ != nullptr) return *shared_budget_;
  if (!own_budget_) own_budget_.emplace(bytes.size());
  return *own_budget_;
}

Status Machine::draw_growth(DecodeBudget& budget, std::size_t values_before, std::size_t memo_before) {
  Status drawn = budget.draw(values_.size() - values_before, "pickle objects");
  if (drawn.is_ok() && memo_.size() > memo_before)
    drawn = budget.draw(memo_.size() - memo_before, "pickle memo entries");
  return drawn;
}

Result<ValueId> Machine::run(std::string_view bytes, std::uint64_t start) {
  DecodeBudget& budget = this->budget(bytes);
  if (memory_cap_ == 0) memory_cap_ = memory_cap_for(bytes.size());
  stack_.clear();
  marks_.clear();
  memo_.clear();
  truncated_ = false;
  OpcodeReader reader(bytes, start);
  while (true) {
    Result<Opcode> opcode = reader.next();
    if (!opcode.is_ok()) {
      truncated_ = reader.truncated();
      return opcode.error();
    }
    ++stats_.steps;
    if (opcode.value().code == op::kStop) {
      end_ = reader.position();
      Result<ValueId> result = top();
      if (!result.is_ok()) return fail("STOP with an empty stack at offset " + std::to_string(opcode.value().position));
      return result.value();
    }
    if (opcode.value().code == op::kFrame && opcode.value().integer > bytes.size() - reader.position()) {
      truncated_ = true;
      return fail("FRAME at offset " + std::to_string(opcode.value().position) + " runs past the end of the pickle");
    }
    std::size_t values_before = values_.size(), memo_before = memo_.size();
    Status status = execute(opcode.value());
    if (status.is_ok()) status = draw_growth(budget, values_before, memo_before);
    if (status.is_ok()) status = check_memory();
    if (!status.is_ok()) return fail(status.message() + " (" + at_offset(opcode.value()) + ")");
    if (opcode.value().code == op::kBuild && after_build_) {
      Result<std::uint64_t> next = after_build_(stack_.back(), reader.position());
      if (!next.is_ok()) return fail(next.message() + " (" + at_offset(opcode.value()) + ")");
      if (next.value() < reader.position() || next.value() > bytes.size()) return fail("a BUILD hook moved backwards");
      reader.skip_to(next.value());
    }
  }
}

}  // namespace tarnwick::pickle
