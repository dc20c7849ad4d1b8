#include "pickle/import_trace.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "pickle/opcodes.h"
#include "base/status.h"
#include "pickle/text_args.h"

namespace tarnwick::scan {

namespace {

namespace op = pickle::op;
using pickle::Opcode;

constexpr const char* kUnderflow = "stack underflow";
constexpr const char* kNoMark = "no MARK on the stack";

// kModuleId: a tuple ("module", <import>, ...), the persistent id under which torch's legacy
// format saves a module's class; its persistent_load gives back that class.
enum class SlotKind : std::uint8_t { kOther, kText, kOwnedText, kImport, kCallResult, kModuleId };

// 16 bytes: a view into the pickle, an index into owned texts or imports, or nothing.
struct Slot {
  std::uint64_t at = 0;
  std::uint32_t length = 0;
  SlotKind kind = SlotKind::kOther;
};

// Pickler memo indexes count up from 0, so they are kept densely; any other index goes to a map.
class Memo {
 public:
  void put(std::uint64_t index, Slot slot) {
    if (index < dense_.size()) {
      dense_[index] = slot;
    } else if (index == dense_.size()) {
      dense_.push_back(slot);
      sparse_.erase(index);
    } else {
      sparse_[index] = slot;
    }
  }
  const Slot* get(std::uint64_t index) const {
    if (index < dense_.size()) return &dense_[index];
    auto found = sparse_.find(index);
    return found == sparse_.end() ? nullptr : &found->second;
  }
  std::size_t size() const { return dense_.size() + sparse_.size(); }
  // What the entries take, a map entry counted at what a node costs.
  std::uint64_t bytes() const { return dense_.size() * sizeof(Slot) + sparse_.size() * 64; }

 private:
  std::vector<Slot> dense_;
  std::unordered_map<std::uint64_t, Slot> sparse_;
};

// The stack, marks, memo and decoded texts may take 1.4 times the pickle and 16 MB: with the
// vectors' growth and the mapped file beside them, a scan stays within 4 times the file and
// 32 MB. A pickle that needs more is no state dict; a loader would need as much.
std::uint64_t slot_memory_cap(std::uint64_t pickle_bytes) { return pickle_bytes / 5 * 7 + 16'000'000; }

class Tracer {
 public:
  Tracer(std::string_view bytes, const ByteGaps& gaps, bool persistent_ids = true)
      : bytes_(bytes), gaps_(gaps), persistent_ids_(persistent_ids), memory_cap_(slot_memory_cap(bytes.size())) {}

  PickleTrace run(std::uint64_t start) {
    pickle::OpcodeReader reader(bytes_, start);
    while (true) {
      Result<Opcode> opcode = reader.next();
      if (!opcode.is_ok()) {
        trace_.unscannable.push_back(opcode.message());
        break;
      }
      ++trace_.steps;
      if (opcode.value().code == op::kStop) {
        trace_.stopped = true;
        break;
      }
      bool stepped = step(opcode.value());
      trace_.max_slots = std::max<std::uint64_t>(trace_.max_slots, stack_.size() + marks_.size() + memo_.size());
      if (memory_used() > memory_cap_) {
        trace_.unscannable.push_back("the pickle's stack, marks and memo pass " + std::to_string(memory_cap_) +
                                     " bytes at offset " + std::to_string(opcode.value().position) +
                                     "; the scan stops there");
        break;
      }
      if (!stepped) {
        trace_.unscannable.push_back(problem_ + " (" + pickle::opcode_name(opcode.value().code) + " at offset " +
                                     std::to_string(opcode.value().position) + "); a loader stops here");
        break;
      }
      while (next_gap_ < gaps_.size() && gaps_[next_gap_].first < reader.position()) ++next_gap_;
      if (next_gap_ < gaps_.size() && gaps_[next_gap_].first == reader.position()) reader.skip_to(gaps_[next_gap_++].second);
    }
    trace_.end = reader.position();
    return std::move(trace_);
  }

 private:
  std::size_t floor() const { return marks_.empty() ? 0 : marks_.back(); }
  std::uint64_t memory_used() const {
    return stack_.size() * sizeof(Slot) + marks_.size() * sizeof(std::size_t) + memo_.bytes() + owned_bytes_;
  }

  bool pop(std::size_t count, Slot* last = nullptr) {
    if (stack_.size() - floor() < count) return false;
    if (last != nullptr && count > 0) *last = stack_.back();
    stack_.resize(stack_.size() - count);
    return true;
  }

  // The items above the last MARK, which goes too; nothing when there is no MARK.
  bool pop_mark(std::vector<Slot>* items = nullptr) {
    if (marks_.empty()) return false;
    if (items != nullptr) items->assign(stack_.begin() + static_cast<std::ptrdiff_t>(marks_.back()), stack_.end());
    stack_.resize(marks_.back());
    marks_.pop_back();
    return true;
  }

  void push(SlotKind kind, std::uint64_t at = 0, std::uint32_t length = 0) { stack_.push_back(Slot{at, length, kind}); }

  std::uint64_t add_import(std::string module, std::string name, const Opcode& opcode) {
    trace_.imports.push_back({std::move(module), std::move(name), pickle::opcode_name(opcode.code)});
    return trace_.imports.size() - 1;
  }

  std::optional<std::string> text_of(const Slot& slot) const {
    if (slot.kind == SlotKind::kText) return std::string(bytes_.substr(slot.at, slot.length));
    if (slot.kind == SlotKind::kOwnedText) return owned_[slot.at];
    return std::nullopt;
  }

  // Compared in place: a memoised long text may stand in many tuples.
  bool text_is(const Slot& slot, std::string_view text) const {
    if (slot.kind == SlotKind::kText) return bytes_.substr(slot.at, slot.length) == text;
    if (slot.kind == SlotKind::kOwnedText) return owned_[slot.at] == text;
    return false;
  }

  // A call through REDUCE, NEWOBJ, NEWOBJ_EX or OBJ of `callable`: what it calls must be an import.
  void call(const Slot& callable, const Opcode& opcode) {
    if (callable.kind == SlotKind::kImport) {
      push(SlotKind::kCallResult, callable.at);
      return;
    }
    trace_.unsafe.push_back(pickle::opcode_name(opcode.code) + " at offset " + std::to_string(opcode.position) +
                            " calls a value that is not an imported name");
    push(SlotKind::kOther);
  }

  void push_tuple(const std::vector<Slot>& items) {
    if (items.size() >= 2 && items[1].kind == SlotKind::kImport && text_is(items[0], "module")) {
      push(SlotKind::kModuleId, items[1].at);
    } else {
      push(SlotKind::kOther);
    }
  }

  bool problem(std::string message) {
    problem_ = std::move(message);
    return false;
  }

  bool push_text(const Opcode& opcode) {
    if (opcode.code == op::kString || opcode.code == op::kUnicode) {
      Result<std::string> text = opcode.code == op::kString ? pickle::unquote_string_literal(opcode.text)
                                                                    : pickle::decode_raw_unicode_escape(opcode.text);
      if (!text.is_ok()) return problem(text.message());
      owned_bytes_ += text.value().size() + sizeof(std::string);
      owned_.push_back(text.take());
      push(SlotKind::kOwnedText, owned_.size() - 1);
      return true;
    }
    push(SlotKind::kText, static_cast<std::uint64_t>(opcode.text.data() - bytes_.data()),
         static_cast<std::uint32_t>(std::min<std::size_t>(opcode.text.size(), UINT32_MAX)));
    return true;
  }

  bool memo_op(const Opcode& opcode) {
    std::uint64_t index = opcode.integer;
    if (opcode.code == op::kPut || opcode.code == op::kGet) {
      std::optional<std::int64_t> parsed = pickle::parse_decimal(opcode.text);
      if (!parsed || *parsed < 0) return problem("memo index is not a number");
      index = static_cast<std::uint64_t>(*parsed);
    }
    bool is_put = opcode.code == op::kPut || opcode.code == op::kBinPut || opcode.code == op::kLongBinPut ||
                  opcode.code == op::kMemoize;
    if (is_put) {
      if (stack_.size() == floor()) return problem(kUnderflow);
      memo_.put(opcode.code == op::kMemoize ? memo_.size() : index, stack_.back());
      return true;
    }
    const Slot* slot = memo_.get(index);
    if (slot == nullptr) return problem("memo entry " + std::to_string(index) + " is not set");
    stack_.push_back(*slot);
    return true;
  }

  bool step(const Opcode& opcode) {
    switch (opcode.code) {
      case op::kProto:
        return opcode.integer <= 5 || problem("unsupported pickle protocol " + std::to_string(opcode.integer));
      case op::kFrame:
        return opcode.integer <= bytes_.size() - (opcode.position + 9) || problem("FRAME runs past the end of the pickle");
      case op::kMark: marks_.push_back(stack_.size()); return true;
      case op::kPop:
        if (!marks_.empty() && stack_.size() == marks_.back()) {
          marks_.pop_back();
          return true;
        }
        return pop(1) || problem(kUnderflow);
      case op::kPopMark: return pop_mark() || problem(kNoMark);
      case op::kDup:
        if (stack_.size() == floor()) return problem(kUnderflow);
        stack_.push_back(stack_.back());
        return true;
      case op::kString: case op::kBinString: case op::kShortBinString: case op::kUnicode:
      case op::kBinUnicode: case op::kShortBinUnicode: case op::kBinUnicode8: return push_text(opcode);
      case op::kPut: case op::kBinPut: case op::kLongBinPut: case op::kMemoize:
      case op::kGet: case op::kBinGet: case op::kLongBinGet: return memo_op(opcode);
      case op::kGlobal:
        push(SlotKind::kImport, add_import(std::string(opcode.text), std::string(opcode.second), opcode));
        return true;
      case op::kStackGlobal: {
        if (stack_.size() - floor() < 2) return problem(kUnderflow);
        std::optional<std::string> module = text_of(stack_[stack_.size() - 2]), name = text_of(stack_.back());
        pop(2);
        if (!module || !name) return problem("STACK_GLOBAL takes a module or name that is not a plain string");
        push(SlotKind::kImport, add_import(*module, *name, opcode));
        return true;
      }
      case op::kExt1: case op::kExt2: case op::kExt4:
        push(SlotKind::kImport, add_import("copyreg", "extension " + std::to_string(opcode.integer), opcode));
        return true;
      case op::kInst: {
        if (!pop_mark()) return problem(kNoMark);
        Slot imported{add_import(std::string(opcode.text), std::string(opcode.second), opcode), 0, SlotKind::kImport};
        call(imported, opcode);
        return true;
      }
      case op::kObj: {
        std::vector<Slot> items;
        if (!pop_mark(&items)) return problem(kNoMark);
        if (items.empty()) return problem(kUnderflow);
        call(items.front(), opcode);
        return true;
      }
      case op::kReduce: case op::kNewObj: case op::kNewObjEx: {
        std::size_t operands = opcode.code == op::kNewObjEx ? 3 : 2;
        if (stack_.size() - floor() < operands) return problem(kUnderflow);
        Slot callable = stack_[stack_.size() - operands];
        pop(operands);
        call(callable, opcode);
        return true;
      }
      case op::kBuild: case op::kAppend: return (pop(1) && stack_.size() > floor()) || problem(kUnderflow);
      case op::kSetItem: return (pop(2) && stack_.size() > floor()) || problem(kUnderflow);
      case op::kAppends: case op::kSetItems: case op::kAddItems:
        return (pop_mark() && stack_.size() > floor()) || problem("no MARK, or nothing below it to add to");
      case op::kTuple: {
        std::vector<Slot> items;
        if (!pop_mark(&items)) return problem(kNoMark);
        push_tuple(items);
        return true;
      }
      case op::kList: case op::kDict: case op::kFrozenSet:
        if (!pop_mark()) return problem(kNoMark);
        push(SlotKind::kOther);
        return true;
      case op::kPersId:
        if (!persistent_ids_) return problem("a persistent id, and the loader has no persistent_load");
        push(SlotKind::kOther);
        return true;
      case op::kBinPersId: {
        if (!persistent_ids_) return problem("a persistent id, and the loader has no persistent_load");
        Slot id;
        if (!pop(1, &id)) return problem(kUnderflow);
        if (id.kind == SlotKind::kModuleId) push(SlotKind::kImport, id.at);
        else push(SlotKind::kOther);
        return true;
      }
      case op::kTuple1: case op::kTuple2: case op::kTuple3: {
        std::size_t count = opcode.code - op::kTuple1 + 1;
        if (stack_.size() - floor() < count) return problem(kUnderflow);
        std::vector<Slot> items(stack_.end() - static_cast<std::ptrdiff_t>(count), stack_.end());
        pop(count);
        push_tuple(items);
        return true;
      }
      case op::kReadonlyBuffer: return stack_.size() > floor() || problem(kUnderflow);
      default:  // every other opcode pushes one value that is neither text nor an import
        push(SlotKind::kOther);
        return true;
    }
  }

  std::string_view bytes_;
  const ByteGaps& gaps_;
  bool persistent_ids_;
  std::uint64_t memory_cap_;
  std::uint64_t owned_bytes_ = 0;
  std::size_t next_gap_ = 0;
  std::string problem_;  // why the last step failed
  std::vector<Slot> stack_;
  std::vector<std::size_t> marks_;
  std::vector<std::string> owned_;
  Memo memo_;
  PickleTrace trace_;
};

}  // namespace

PickleTrace trace_pickle(std::string_view bytes, std::uint64_t start, const ByteGaps& gaps) {
  return Tracer(bytes, gaps).run(start);
}

PickleTrace trace_plain_pickle_load(std::string_view bytes) {
  static const ByteGaps kNoGaps;
  return Tracer(bytes, kNoGaps, false).run(0);
}

}  // namespace tarnwick::scan
