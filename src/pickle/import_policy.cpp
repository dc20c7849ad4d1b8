#include "pickle/import_policy.h"

#include <algorithm>
#include <span>
#include <string>

#include "pickle/torch_types.h"

namespace tarnwick::scan {

namespace {

struct Name {
  std::string_view module;
  std::string_view name;
};

// Exactly these names: a module prefix alone never makes an import allowed.
constexpr Name kAllowed[] = {
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
};

// Named exactly, and ahead of the dangerous modules they live in: torch.jit's list builders
// return their argument; joblib's array wrappers only hold where an array's bytes are.
constexpr Name kFrameworkInsideDangerous[] = {
    {"torch.jit._pickle", "build_intlist"},
    {"torch.jit._pickle", "build_doublelist"},
    {"torch.jit._pickle", "build_boollist"},
    {"torch.jit._pickle", "build_tensorlist"},
    {"joblib.numpy_pickle", "NumpyArrayWrapper"},
};
// joblib's old NDArrayWrapper and ZNDArrayWrapper stay dangerous: loading one opens the file the
// pickle names beside it, with numpy's allow_pickle.

// Whole modules (and their submodules) whose functions run code, start processes, touch files
// or the network, load further pickles or reach the import machinery.
constexpr std::string_view kDangerousModules[] = {
    "os",          "posix",       "nt",          "subprocess",   "_posixsubprocess", "_winapi",     "sys",
    "socket",      "_socket",     "ssl",         "shutil",       "pty",              "runpy",       "importlib",
    "imp",         "_imp",        "zipimport",   "pkgutil",      "ctypes",           "_ctypes",     "cffi",
    "webbrowser",  "antigravity", "code",        "codeop",       "multiprocessing",  "_thread",     "urllib",
    "urllib2",     "urllib3",     "http",        "httplib",      "requests",         "ftplib",      "smtplib",
    "poplib",      "imaplib",     "telnetlib",   "xmlrpc",       "socketserver",     "pickle",      "_pickle",
    "cPickle",     "marshal",     "shelve",      "dill",         "cloudpickle",      "joblib",      "commands",
    "popen2",      "pdb",         "bdb",         "trace",        "timeit",           "profile",     "cProfile",
    "pydoc",       "doctest",     "distutils",   "setuptools",   "pip",              "asyncio",     "signal",
    "platform",    "fileinput",   "linecache",   "logging.config", "torch.hub",      "torch.utils.cpp_extension",
    "torch.package", "torch.utils.collect_env", "torch.utils.bottleneck", "torch.utils.data.datapipes.utils.decoder",
    "lib2to3", "mailcap", "ensurepip",
};

constexpr Name kDangerousNames[] = {
    {"builtins", "eval"},          {"builtins", "exec"},          {"builtins", "compile"},
    {"builtins", "open"},          {"builtins", "__import__"},    {"builtins", "getattr"},
    {"builtins", "setattr"},       {"builtins", "delattr"},       {"builtins", "globals"},
    {"builtins", "locals"},        {"builtins", "vars"},          {"builtins", "breakpoint"},
    {"builtins", "input"},         {"builtins", "execfile"},      {"builtins", "file"},
    {"builtins", "reload"},        {"builtins", "apply"},         {"types", "CodeType"},
    {"types", "FunctionType"},     {"types", "LambdaType"},       {"types", "MethodType"},
    {"operator", "attrgetter"},    {"operator", "methodcaller"},  {"_operator", "attrgetter"},
    {"_operator", "methodcaller"}, {"functools", "partial"},      {"functools", "partialmethod"},
    {"_functools", "partial"},     {"io", "open"},                {"io", "FileIO"},
    {"io", "open_code"},           {"_io", "open"},               {"_io", "FileIO"},
    {"codecs", "open"},            {"codecs", "register"},        {"_codecs", "register"},
    {"torch", "load"},             {"torch", "save"},             {"torch", "from_file"},
    {"torch.serialization", "load"}, {"torch.storage", "_load_from_bytes"}, {"torch", "_load_global_deps"},
    {"torch._C", "_jit_pass_onnx"}, {"torch.ops", "load_library"},
};

// Under numpy, whatever the submodule: reading or writing files, and running strings as code.
constexpr std::string_view kDangerousNumpyNames[] = {
    "load", "loads", "loadtxt", "genfromtxt", "fromfile", "fromregex", "memmap", "save", "savez", "savetxt",
    "runstring", "load_library",
};
constexpr std::string_view kDangerousNumpyModules[] = {"numpy.f2py", "numpy.distutils", "numpy.ctypeslib"};

// Attribute names that lead from any object to the interpreter's internals.
constexpr std::string_view kInternals[] = {
    "__builtins__", "__import__", "__globals__", "__subclasses__", "__getattribute__", "__getattr__", "__setattr__",
    "__loader__", "__dict__", "__class__", "__code__", "__mro__", "__base__", "__bases__",
};

// What a whole-model save legitimately names. Loading these runs their constructors and
// __setstate__, nothing a file could choose.
constexpr Name kFramework[] = {
    {"collections", "defaultdict"},       {"collections", "Counter"},
    {"collections", "deque"},             {"collections", "ChainMap"},
    {"copyreg", "_reconstructor"},        {"copyreg", "__newobj__"},
    {"copyreg", "__newobj_ex__"},         {"numpy", "dtype"},
    {"numpy", "ndarray"},                 {"numpy.core.multiarray", "_reconstruct"},
    {"numpy._core.multiarray", "_reconstruct"}, {"numpy.core.multiarray", "scalar"},
    {"numpy._core.multiarray", "scalar"}, {"numpy.core.numeric", "_frombuffer"},
    {"numpy._core.numeric", "_frombuffer"}, {"argparse", "Namespace"},
    {"pathlib", "Path"},                  {"pathlib", "PosixPath"},
    {"pathlib", "WindowsPath"},           {"pathlib", "PurePath"},
    {"pathlib", "PurePosixPath"},         {"pathlib", "PureWindowsPath"},
    {"builtins", "complex"},              {"builtins", "slice"},
    {"builtins", "range"},                {"builtins", "list"},
    {"builtins", "dict"},                 {"builtins", "tuple"},
    {"builtins", "int"},                  {"builtins", "float"},
    {"builtins", "str"},                  {"builtins", "bytes"},
    {"builtins", "bool"},                 {"decimal", "Decimal"},
    {"fractions", "Fraction"},            {"uuid", "UUID"},
};

// Every name in these modules: torch's modules and optimisers, numpy's dtype classes, dates.
constexpr std::string_view kFrameworkModules[] = {"torch.nn", "torch.ao.nn", "torch.optim", "numpy.dtypes",
                                                           "datetime"};

bool in_module(std::string_view module, std::string_view root) {
  return module == root || (module.size() > root.size() && module.starts_with(root) && module[root.size()] == '.');
}

bool listed(std::span<const Name> names, std::string_view module, std::string_view name) {
  return std::any_of(names.begin(), names.end(), [&](const Name& n) { return n.module == module && n.name == name; });
}

bool under_any(std::span<const std::string_view> roots, std::string_view module) {
  return std::any_of(roots.begin(), roots.end(), [&](std::string_view root) { return in_module(module, root); });
}

bool among(std::span<const std::string_view> words, std::string_view word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// Pickles written by Python 2 name some modules by their old names.
std::string_view current_module_name(std::string_view module) {
  if (module == "__builtin__") return "builtins";
  if (module == "copy_reg") return "copyreg";
  return module;
}

bool is_dangerous(std::string_view module, std::string_view name) {
  if (listed(kFrameworkInsideDangerous, module, name)) return false;
  if (under_any(kDangerousModules, module) || listed(kDangerousNames, module, name)) return true;
  if (in_module(module, "torch.jit")) return true;
  if (in_module(module, "numpy") &&
      (under_any(kDangerousNumpyModules, module) ||
       among(kDangerousNumpyNames, name))) {
    return true;
  }
  return among(kInternals, name);
}

// torch.FloatTensor and its kin, the tensor types legacy checkpoints name beside their storages.
bool is_legacy_tensor_type(std::string_view module, std::string_view name) {
  if (module != "torch" || !name.ends_with("Tensor")) return false;
  return storage_class_dtype(std::string(name.substr(0, name.size() - 6)) + "Storage").has_value();
}

// torchvision's model and layer classes, which a whole-model save of its networks names; they are
// torch.nn modules restored by __setstate__. Its functions (a model builder may download
// weights) are left unknown.
bool is_torchvision_module_class(std::string_view module, std::string_view name) {
  bool models = in_module(module, "torchvision.models") || in_module(module, "torchvision.ops");
  return models && !name.empty() && name.front() >= 'A' && name.front() <= 'Z';
}

// A plain name (no dots) in a module.
Grade grade_plain(std::string_view module, std::string_view name) {
  if (listed(kAllowed, module, name)) return Grade::kAllowed;
  if (module == "torch" && (storage_class_dtype(name) || torch_dtype_attribute(name) || is_legacy_tensor_type(module, name))) {
    return Grade::kAllowed;
  }
  if (is_dangerous(module, name)) return Grade::kDangerous;
  if (listed(kFrameworkInsideDangerous, module, name) || listed(kFramework, module, name) ||
      under_any(kFrameworkModules, module) || is_torchvision_module_class(module, name)) {
    return Grade::kFramework;
  }
  return Grade::kUnknown;
}

// Protocol 4 resolves a dotted name attribute by attribute, so `torch.nn.modules.module` with
// `torch.load` reaches torch.load through the module's own `import torch`. Which object the
// chain ends at cannot be known; it is dangerous when any tail of it names a dangerous one, or
// when it passes through the interpreter's internals, and never better than unknown.
Grade grade_chain(std::string_view module, std::string_view name) {
  std::string path = std::string(module) + "." + std::string(name);
  std::size_t last = path.rfind('.');
  std::string_view holder = std::string_view(path).substr(0, last), attribute = std::string_view(path).substr(last + 1);
  for (std::size_t from = 0; from < holder.size(); from = holder.find('.', from) + 1) {
    if (is_dangerous(current_module_name(holder.substr(from)), attribute)) return Grade::kDangerous;
    if (holder.find('.', from) == std::string_view::npos) break;
  }
  for (std::size_t from = 0, end = 0; from <= name.size(); from = end + 1) {
    end = std::min(name.find('.', from), name.size());
    std::string_view segment = name.substr(from, end - from);
    if (among(kInternals, segment)) return Grade::kDangerous;
  }
  return Grade::kUnknown;
}

}  // namespace

Grade grade_import(std::string_view module, std::string_view name) {
  module = current_module_name(module);
  if (name.find('.') != std::string_view::npos) return grade_chain(module, name);
  return grade_plain(module, name);
}

}  // namespace tarnwick::scan
