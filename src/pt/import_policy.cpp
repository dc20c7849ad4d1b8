#include "pt/import_policy.h"

#include <array>

#include "pt/torch_types.h"

namespace tarnwick::scan {

namespace {

struct Name {
  std::string_view module;
  std::string_view name;
};

// Exactly these names: a module prefix alone never makes an import allowed.
constexpr std::array<Name, 32> kAllowed{{
    {"collections", "OrderedDict"},
    {"torch._utils", "_rebuild_tensor"},
    {"torch._utils", "_rebuild_tensor_v2"},
    {"torch._utils", "_rebuild_tensor_v3"},
    {"torch._utils", "_rebuild_parameter"},
    {"torch._utils", "_rebuild_parameter_with_state"},
    {"torch._utils", "_rebuild_qtensor"},
    {"torch._utils", "_rebuild_sparse_tensor"},
    {"torch._utils", "_rebuild_meta_tensor_no_storage"},
    {"torch._utils", "_rebuild_device_tensor_from_numpy"},
    {"torch._utils", "_rebuild_wrapper_subclass"},
    {"torch._utils", "_rebuild_nested_tensor"},
    {"torch._tensor", "_rebuild_from_type_v2"},
    {"torch.nn.parameter", "Parameter"},
    {"torch", "Size"},
    {"torch", "device"},
    {"torch", "Tensor"},
    {"torch", "per_tensor_affine"},
    {"torch", "per_channel_affine"},
    {"torch", "per_tensor_symmetric"},
    {"torch", "per_channel_symmetric"},
    {"torch", "per_channel_affine_float_qparams"},
    {"torch", "strided"},
    {"torch", "sparse_coo"},
    {"torch", "sparse_csr"},
    {"torch", "contiguous_format"},
    {"torch", "channels_last"},
    {"torch.serialization", "_get_layout"},
    {"_codecs", "encode"},
    {"builtins", "set"},
    {"builtins", "frozenset"},
    {"builtins", "bytearray"},
}};

// Whole modules (and their submodules) whose functions run code, touch files, processes or the
// network, or load further pickles.
constexpr std::array<std::string_view, 30> kDangerousModules{
    "os",       "posix",   "nt",        "subprocess", "sys",      "socket",     "shutil",   "pty",
    "runpy",    "importlib", "ctypes",  "webbrowser", "code",     "codeop",     "multiprocessing", "urllib",
    "http",     "requests", "pickle",   "_pickle",    "marshal",  "dill",       "cloudpickle", "joblib",
    "commands", "pdb",      "asyncio",  "signal",     "platform", "torch.hub",
};

constexpr std::array<Name, 27> kDangerousNames{{
    {"builtins", "eval"},          {"builtins", "exec"},          {"builtins", "compile"},
    {"builtins", "open"},          {"builtins", "__import__"},    {"builtins", "getattr"},
    {"builtins", "setattr"},       {"builtins", "delattr"},       {"builtins", "globals"},
    {"builtins", "locals"},        {"builtins", "vars"},          {"builtins", "breakpoint"},
    {"builtins", "input"},         {"types", "CodeType"},         {"types", "FunctionType"},
    {"types", "MethodType"},       {"operator", "attrgetter"},    {"operator", "methodcaller"},
    {"functools", "partial"},      {"torch", "load"},             {"torch.serialization", "load"},
    {"torch.storage", "_load_from_bytes"}, {"torch.jit", "load"}, {"torch.jit._serialization", "load"},
    {"torch", "_load_global_deps"}, {"torch._C", "_jit_pass_onnx"}, {"numpy", "load"},
}};

bool in_module(std::string_view module, std::string_view root) {
  return module == root || (module.size() > root.size() && module.starts_with(root) && module[root.size()] == '.');
}

}  // namespace

ImportVerdict judge_import(std::string_view module, std::string_view name) {
  if (module == "__builtin__") module = "builtins";  // protocol 0-2 pickles written by Python 2
  for (const Name& allowed : kAllowed) {
    if (allowed.module == module && allowed.name == name) return ImportVerdict::kAllowed;
  }
  if (module == "torch" && (storage_class_dtype(name) || torch_dtype_attribute(name))) return ImportVerdict::kAllowed;
  for (std::string_view root : kDangerousModules) {
    if (in_module(module, root)) return ImportVerdict::kDangerous;
  }
  for (const Name& dangerous : kDangerousNames) {
    if (dangerous.module == module && dangerous.name == name) return ImportVerdict::kDangerous;
  }
  if (in_module(module, "torch.jit")) return ImportVerdict::kDangerous;
  return ImportVerdict::kNotAllowed;
}

std::string_view verdict_text(ImportVerdict verdict) {
  switch (verdict) {
    case ImportVerdict::kAllowed: return "allowed";
    case ImportVerdict::kDangerous: return "dangerous";
    case ImportVerdict::kNotAllowed: return "not allowed";
  }
  return "not allowed";
}

}  // namespace tarnwick::scan
