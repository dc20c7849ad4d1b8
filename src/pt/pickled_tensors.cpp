#include "pt/pickled_tensors.h"

#include <cmath>

#include "base/decode_budget.h"
#include "pickle/torch_types.h"

namespace tarnwick {

namespace {

using pickle::Kind;
using pickle::Machine;
using pickle::Value;
using pickle::ValueId;

constexpr std::size_t kMaxDepth = DecodeBudget::kMaxValueNesting;

bool is_global(const Value& value, std::string_view module, std::string_view name) {
  return value.kind == Kind::kGlobal && value.text == module && value.name == name;
}

const Value* call_target(const Machine& machine, const Value& call) {
  if (call.kind != Kind::kCall || call.items.size() < 2) return nullptr;
  const Value& callable = machine.at(call.items[0]);
  return callable.kind == Kind::kGlobal ? &callable : nullptr;
}

std::optional<std::int64_t> as_int(const Value& value) {
  if (value.kind == Kind::kInt || value.kind == Kind::kBool) return value.integer;
  return std::nullopt;
}

Result<std::vector<std::int64_t>> int_tuple(const Machine& machine, ValueId id, const char* what) {
  const Value& value = machine.at(id);
  if (value.kind != Kind::kTuple && value.kind != Kind::kList) return fail(std::string(what) + " is not a tuple");
  std::vector<std::int64_t> numbers;
  for (ValueId item : value.items) {
    std::optional<std::int64_t> number = as_int(machine.at(item));
    if (!number) return fail(std::string(what) + " holds a value that is not an integer");
    numbers.push_back(*number);
  }
  return numbers;
}

std::string render_key(const Value& key) {
  switch (key.kind) {
    case Kind::kStr: return key.text;
    case Kind::kInt: return std::to_string(key.integer);
    case Kind::kBool: return key.integer ? "True" : "False";
    case Kind::kNone: return "None";
    case Kind::kBigInt: return key.big_int_binary ? "<int>" : key.text;
    default: return "<key>";
  }
}

std::string join(const std::string& prefix, const std::string& key) { return prefix.empty() ? key : prefix + "." + key; }

std::string dtype_of_value(const Value& value) {
  if (value.kind == Kind::kGlobal && value.text == "torch") {
    if (std::optional<TorchDtype> dtype = torch_dtype_attribute(value.name)) return std::string(dtype->dtype);
    return "unknown(" + value.name + ")";
  }
  return "unknown(dtype)";
}

class Walker {
 public:
  explicit Walker(const Machine& machine)
      : machine_(machine), on_path_(machine.value_count(), 0), budget_(4 * machine.value_count() + 1024) {}

  Status walk(ValueId id, const std::string& path, std::size_t depth) {
    if (budget_-- == 0) return fail("the pickle shares values too often to name its tensors");
    if (depth > kMaxDepth) return fail("the pickle nests values more than " + std::to_string(kMaxDepth) + " deep");
    if (on_path_[id]) return Status::ok();  // a container holding itself
    on_path_[id] = 1;
    Status status = visit(id, path, depth);
    on_path_[id] = 0;
    return status;
  }

  std::vector<PickledTensor> take() { return std::move(tensors_); }

 private:
  Status visit(ValueId id, const std::string& path, std::size_t depth) {
    const Value& value = machine_.at(id);
    if (const Value* target = call_target(machine_, value)) {
      Result<bool> tensor = try_tensor(*target, value.items[1], path, depth);
      if (!tensor.is_ok()) return fail((path.empty() ? std::string("the pickled object") : path) + ": " + tensor.message());
      if (tensor.value()) return Status::ok();
    }
    if (value.kind == Kind::kDict || (value.kind == Kind::kCall && !value.entries.empty())) {
      for (std::size_t i = 0; i + 1 < value.entries.size(); i += 2) {
        Status status = walk(value.entries[i + 1], join(path, render_key(machine_.at(value.entries[i]))), depth + 1);
        if (!status.is_ok()) return status;
      }
    }
    if (value.kind == Kind::kCall && value.state != pickle::kNoValue) return object_state(value.state, path, depth);
    if (value.kind == Kind::kList || value.kind == Kind::kTuple) {
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        Status status = walk(value.items[i], join(path, std::to_string(i)), depth + 1);
        if (!status.is_ok()) return status;
      }
    }
    return Status::ok();
  }

  // An object's BUILD state: its attributes by name, as a pickled nn.Module or TorchScript
  // module holds them. A module keeps parameters, buffers and submodules in `_parameters`,
  // `_buffers` and `_modules`, which state_dict() names leave out ("layer1.0.conv1.weight").
  // A state of (dict, slots) carries attributes in both.
  Status object_state(ValueId state_id, const std::string& path, std::size_t depth) {
    const Value& state = machine_.at(state_id);
    if (state.kind == Kind::kTuple && state.items.size() == 2) {
      for (ValueId part : state.items) {
        Status status = object_state(part, path, depth + 1);
        if (!status.is_ok()) return status;
      }
      return Status::ok();
    }
    if (state.kind != Kind::kDict) return walk(state_id, path, depth + 1);
    for (std::size_t i = 0; i + 1 < state.entries.size(); i += 2) {
      std::string key = render_key(machine_.at(state.entries[i]));
      bool holder = key == "_parameters" || key == "_buffers" || key == "_modules";
      Status status = walk(state.entries[i + 1], holder ? path : join(path, key), depth + 1);
      if (!status.is_ok()) return status;
    }
    return Status::ok();
  }

  // TorchScript wraps typed lists and dicts in calls that only restore their static type.
  Result<bool> typed_container(const Value& target, const std::vector<ValueId>& args, const std::string& path,
                               std::size_t depth) {
    if (target.text != "torch.jit._pickle" || args.empty()) return false;
    if (target.name != "restore_type_tag" && !target.name.starts_with("build_")) return false;
    Status status = walk(args[0], path, depth + 1);
    if (!status.is_ok()) return status.error();
    return true;
  }

  // True when `target(args)` rebuilds a tensor (then recorded under `path`).
  Result<bool> try_tensor(const Value& target, ValueId args_id, const std::string& path, std::size_t depth) {
    const Value& args = machine_.at(args_id);
    if (args.kind != Kind::kTuple) return false;
    const std::vector<ValueId>& a = args.items;
    if (target.text == "torch.jit._pickle") return typed_container(target, a, path, depth);
    bool utils = target.text == "torch._utils";
    if ((utils && (target.name == "_rebuild_parameter" || target.name == "_rebuild_parameter_with_state")) ||
        is_global(target, "torch.nn.parameter", "Parameter")) {
      if (a.empty()) return fail("a parameter without its tensor");
      return wrapped(a[0], path, depth);
    }
    if (is_global(target, "torch._tensor", "_rebuild_from_type_v2")) {
      if (a.size() < 3) return fail("_rebuild_from_type_v2 with too few arguments");
      const Value& inner = machine_.at(a[0]);
      if (inner.kind != Kind::kGlobal) return false;
      return try_tensor(inner, a[2], path, depth + 1);
    }
    if (!utils) return false;
    if (target.name == "_rebuild_tensor_v2" || target.name == "_rebuild_tensor" || target.name == "_rebuild_tensor_v3" ||
        target.name == "_rebuild_qtensor") {
      return stored_tensor(target.name, a, path);
    }
    if (target.name == "_rebuild_meta_tensor_no_storage" && a.size() >= 3) {
      return storageless_tensor(dtype_of_value(machine_.at(a[0])), a[1], a[2], path);
    }
    if (target.name == "_rebuild_wrapper_subclass" && a.size() >= 4) {
      return storageless_tensor(dtype_of_value(machine_.at(a[1])), a[2], a[3], path);
    }
    if (target.name.starts_with("_rebuild_")) {
      PickledTensor tensor;
      tensor.name = path;
      tensor.dtype = "unknown(" + target.name + ")";
      tensors_.push_back(std::move(tensor));
      return true;
    }
    return false;
  }

  Result<bool> wrapped(ValueId inner, const std::string& path, std::size_t depth) {
    std::size_t before = tensors_.size();
    Status status = walk(inner, path, depth + 1);
    if (!status.is_ok()) return status.error();
    if (tensors_.size() != before + 1) return fail("a parameter that does not wrap one tensor");
    return true;
  }

  Result<bool> stored_tensor(const std::string& function, const std::vector<ValueId>& a, const std::string& path) {
    if (a.size() < 4) return fail(function + " with too few arguments");
    const Value& storage_ref = machine_.at(a[0]);
    if (storage_ref.kind != Kind::kPersistentRef) return fail(function + " without a persistent storage id");
    Result<PickledStorage> storage = read_storage_id(machine_, storage_ref.items[0]);
    if (!storage.is_ok()) return storage.error();
    std::optional<std::int64_t> offset = as_int(machine_.at(a[1]));
    if (!offset || *offset < 0) return fail(function + " with a storage offset that is not a count");
    Result<std::vector<std::int64_t>> size = int_tuple(machine_, a[2], "size");
    if (!size.is_ok()) return size.error();
    Result<std::vector<std::int64_t>> stride = int_tuple(machine_, a[3], "stride");
    if (!stride.is_ok()) return stride.error();
    if (stride.value().size() != size.value().size()) return fail("size and stride differ in length");
    PickledTensor tensor;
    tensor.name = path;
    tensor.dtype = storage.value().dtype;
    if (function == "_rebuild_tensor_v3" && a.size() >= 7) {
      std::string dtype = dtype_of_value(machine_.at(a[6]));
      if (!dtype.starts_with("unknown(")) tensor.dtype = dtype;
    }
    tensor.storage = storage.take();
    tensor.storage_offset = static_cast<std::uint64_t>(*offset);
    for (std::int64_t dim : size.value()) {
      if (dim < 0) return fail("a negative dimension");
      tensor.shape.push_back(static_cast<std::uint64_t>(dim));
    }
    tensor.stride = stride.take();
    tensors_.push_back(std::move(tensor));
    return true;
  }

  Result<bool> storageless_tensor(std::string dtype, ValueId size_id, ValueId stride_id, const std::string& path) {
    Result<std::vector<std::int64_t>> size = int_tuple(machine_, size_id, "size");
    if (!size.is_ok()) return size.error();
    Result<std::vector<std::int64_t>> stride = int_tuple(machine_, stride_id, "stride");
    PickledTensor tensor;
    tensor.name = path;
    tensor.dtype = std::move(dtype);
    for (std::int64_t dim : size.value()) {
      if (dim < 0) return fail("a negative dimension");
      tensor.shape.push_back(static_cast<std::uint64_t>(dim));
    }
    if (stride.is_ok()) tensor.stride = stride.take();
    tensors_.push_back(std::move(tensor));
    return true;
  }

  const Machine& machine_;
  std::vector<std::uint8_t> on_path_;
  std::uint64_t budget_;
  std::vector<PickledTensor> tensors_;
};

std::optional<std::string> key_text(const Value& value) {
  if (value.kind == Kind::kStr) return value.text;
  if (value.kind == Kind::kInt) return std::to_string(value.integer);
  return std::nullopt;
}

}  // namespace

Result<PickledStorage> read_storage_id(const Machine& machine, ValueId pid) {
  const Value& id = machine.at(pid);
  if (id.kind != Kind::kTuple || id.items.size() < 5) return fail("a persistent id that is not a storage tuple");
  const Value& tag = machine.at(id.items[0]);
  if (tag.kind != Kind::kStr || tag.text != "storage") return fail("a persistent id that is not a storage");
  const Value& type = machine.at(id.items[1]);
  std::optional<std::string> key = key_text(machine.at(id.items[2]));
  std::optional<std::int64_t> numel = as_int(machine.at(id.items[4]));
  if (type.kind != Kind::kGlobal) return fail("a storage whose class is not an imported name");
  if (!key) return fail("a storage whose key is not a string");
  if (!numel || *numel < 0) return fail("a storage whose size is not a count");
  PickledStorage storage;
  storage.key = *key;
  storage.class_name = type.name;
  storage.numel = static_cast<std::uint64_t>(*numel);
  std::optional<TorchDtype> dtype = type.text == "torch" ? storage_class_dtype(type.name) : std::nullopt;
  storage.dtype = dtype ? std::string(dtype->dtype) : "unknown(" + type.name + ")";
  storage.element_size = dtype ? dtype->element_size : 0;
  if (id.items.size() >= 6) {  // legacy view metadata: (view_key, offset, view_size) or None
    const Value& view = machine.at(id.items[5]);
    if (view.kind == Kind::kTuple && view.items.size() >= 2) {
      std::optional<std::int64_t> offset = as_int(machine.at(view.items[1]));
      if (!offset || *offset < 0) return fail("a storage view whose offset is not a count");
      storage.view_offset = static_cast<std::uint64_t>(*offset);
    }
  }
  return storage;
}

Result<std::vector<PickledTensor>> collect_pickled_tensors(const Machine& machine, ValueId root) {
  Walker walker(machine);
  Status status = walker.walk(root, "", 0);
  if (!status.is_ok()) return status.error();
  return walker.take();
}

}  // namespace tarnwick
