#include "pickle/joblib_arrays.h"

#include <optional>
#include <string>

#include "pickle/machine.h"

namespace tarnwick::scan {

namespace {

using pickle::Kind;
using pickle::Machine;
using pickle::Value;
using pickle::ValueId;

const Value* dict_entry(const Machine& machine, const Value& dict, std::string_view key) {
  if (dict.kind != Kind::kDict) return nullptr;
  for (std::size_t i = 0; i + 1 < dict.entries.size(); i += 2) {
    const Value& name = machine.at(dict.entries[i]);
    if (name.kind == Kind::kStr && name.text == key) return &machine.at(dict.entries[i + 1]);
  }
  return nullptr;
}

bool is_wrapper(const Machine& machine, const Value& value) {
  if (value.kind != Kind::kCall || value.items.empty()) return false;
  const Value& callable = machine.at(value.items[0]);
  return callable.kind == Kind::kGlobal && names_joblib_array_wrapper(callable.text, callable.name);
}

struct ArrayDtype {
  bool has_object = false;
  std::uint64_t item_size = 0;
};

constexpr int kMaxDtypeNesting = 32;

// Whether a dtype holds Python objects: an "O" type, or a field or subarray whose dtype does.
Result<bool> holds_objects(const Machine& machine, const Value& dtype, int depth) {
  if (depth > kMaxDtypeNesting) return fail("its dtype nests too deep");
  if (dtype.kind != Kind::kCall || dtype.items.size() < 2) return fail("its dtype is not a numpy.dtype call");
  const Value& args = machine.at(dtype.items[1]);
  if (args.kind != Kind::kTuple || args.items.empty() || machine.at(args.items[0]).kind != Kind::kStr) {
    return fail("its dtype names no type");
  }
  if (machine.at(args.items[0]).text.starts_with('O')) return true;
  if (dtype.state == pickle::kNoValue) return false;
  const Value& state = machine.at(dtype.state);
  if (state.kind != Kind::kTuple || state.items.size() < 6) return false;
  const Value& subarray = machine.at(state.items[2]);
  if (subarray.kind == Kind::kTuple && !subarray.items.empty()) {
    Result<bool> inner = holds_objects(machine, machine.at(subarray.items[0]), depth + 1);
    if (!inner.is_ok() || inner.value()) return inner;
  }
  const Value& fields = machine.at(state.items[4]);
  if (fields.kind == Kind::kNone) return false;
  if (fields.kind != Kind::kDict) return fail("its dtype's fields are not a dict");
  for (std::size_t i = 1; i < fields.entries.size(); i += 2) {
    const Value& field = machine.at(fields.entries[i]);
    if (field.kind != Kind::kTuple || field.items.empty()) return fail("a field of its dtype is not (dtype, offset)");
    Result<bool> inner = holds_objects(machine, machine.at(field.items[0]), depth + 1);
    if (!inner.is_ok() || inner.value()) return inner;
  }
  return false;
}

// numpy pickles a dtype as numpy.dtype('f8', False, True) with the state (3, '<', subarray,
// names, fields, elsize, alignment, flags): the size is elsize where stated (flexible and
// structured types) and the digits of the type string otherwise.
Result<ArrayDtype> read_dtype(const Machine& machine, const Value& dtype) {
  Result<bool> objects = holds_objects(machine, dtype, 0);
  if (!objects.is_ok()) return objects.error();
  ArrayDtype result;
  result.has_object = objects.value();
  std::string_view type = machine.at(machine.at(dtype.items[1]).items[0]).text;
  std::int64_t elsize = -1;
  if (dtype.state != pickle::kNoValue) {
    const Value& state = machine.at(dtype.state);
    if (state.kind == Kind::kTuple && state.items.size() >= 6 && machine.at(state.items[5]).kind == Kind::kInt) {
      elsize = machine.at(state.items[5]).integer;
    }
  }
  if (elsize > 0) {
    result.item_size = static_cast<std::uint64_t>(elsize);
    return result;
  }
  std::size_t digits = type.find_first_of("0123456789");
  if (digits == std::string_view::npos) return fail("its dtype " + std::string(type) + " states no item size");
  for (char c : type.substr(digits)) {
    if (c < '0' || c > '9' || result.item_size > 1'000'000) return fail("its dtype " + std::string(type) + " is not understood");
    result.item_size = result.item_size * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return result;
}

Result<std::uint64_t> element_count(const Machine& machine, const Value& shape) {
  if (shape.kind != Kind::kTuple) return fail("its shape is not a tuple");
  std::uint64_t count = 1;
  for (ValueId id : shape.items) {
    const Value& dim = machine.at(id);
    if (dim.kind != Kind::kInt || dim.integer < 0) return fail("its shape holds something other than sizes");
    std::uint64_t size = static_cast<std::uint64_t>(dim.integer);
    if (size != 0 && count > UINT64_MAX / size) return fail("its shape overflows");
    count *= size;
  }
  return count;
}

// Where the stream goes on after the array whose wrapper was just built at `next`.
Result<std::uint64_t> skip_array(std::string_view bytes, const Machine& machine, const Value& wrapper,
                                 std::uint64_t next, JoblibArrays& arrays) {
  if (wrapper.state == pickle::kNoValue) return fail("an array wrapper has no state");
  const Value& state = machine.at(wrapper.state);
  const Value* dtype = dict_entry(machine, state, "dtype");
  const Value* shape = dict_entry(machine, state, "shape");
  if (dtype == nullptr || shape == nullptr) return fail("an array wrapper's state lacks its dtype or shape");
  Result<ArrayDtype> type = read_dtype(machine, *dtype);
  if (!type.is_ok()) return fail("an array wrapper: " + type.message());
  if (type.value().has_object) {
    PickleTrace nested = trace_pickle(bytes, next);
    if (!nested.stopped) return fail("an object array's pickle does not reach its STOP");
    arrays.object_pickles.push_back(next);
    arrays.gaps.emplace_back(next, nested.end);
    return nested.end;
  }
  std::uint64_t at = next;
  const Value* alignment = dict_entry(machine, state, "numpy_array_alignment_bytes");
  if (alignment != nullptr && alignment->kind != Kind::kNone) {  // one byte of padding length, then the padding
    if (at >= bytes.size()) return fail("an array's padding runs past the end");
    at += 1 + static_cast<std::uint8_t>(bytes[at]);
  }
  Result<std::uint64_t> count = element_count(machine, *shape);
  if (!count.is_ok()) return fail("an array wrapper: " + count.message());
  std::uint64_t item_size = type.value().item_size;
  if (item_size != 0 && count.value() > UINT64_MAX / item_size) return fail("an array's size overflows");
  std::uint64_t length = count.value() * item_size;
  if (at > bytes.size() || length > bytes.size() - at) return fail("an array's bytes run past the end of the stream");
  arrays.gaps.emplace_back(next, at + length);
  return at + length;
}

}  // namespace

bool names_joblib_array_wrapper(std::string_view module, std::string_view name) {
  return name == "NumpyArrayWrapper" && (module == "joblib.numpy_pickle" || module.ends_with(".joblib.numpy_pickle"));
}

Result<JoblibArrays> find_joblib_arrays(std::string_view bytes, std::uint64_t start) {
  JoblibArrays arrays;
  Machine machine;
  machine.limit_memory_to_file(bytes.size());
  machine.set_after_build([&](ValueId built, std::uint64_t next) -> Result<std::uint64_t> {
    const Value& value = machine.at(built);
    if (!is_wrapper(machine, value)) return next;
    return skip_array(bytes, machine, value, next, arrays);
  });
  Result<ValueId> root = machine.run(bytes, start);
  if (!root.is_ok()) return root.error();
  return arrays;
}

}  // namespace tarnwick::scan
