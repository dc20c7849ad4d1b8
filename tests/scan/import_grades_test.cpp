// The grade of every kind of import: names from each list, the names an issue or a design
// decision singled out, Python 2 spellings, and dotted names that walk attributes.
#include <gtest/gtest.h>

#include "pickle/import_policy.h"

namespace tarnwick {
namespace {

using scan::Grade;

struct GradeCase {
  const char* module;
  const char* name;
  Grade grade;
};

TEST(ImportGrades, EachNameGetsItsGrade) {
  const std::vector<GradeCase> cases = {
      // torch's weights-only set
      {"collections", "OrderedDict", Grade::kAllowed},
      {"torch._utils", "_rebuild_tensor_v2", Grade::kAllowed},
      {"torch._utils", "_rebuild_parameter", Grade::kAllowed},
      {"torch", "FloatStorage", Grade::kAllowed},
      {"torch", "FloatTensor", Grade::kAllowed},
      {"joblib.numpy_pickle", "NumpyArrayWrapper", Grade::kFramework},
      {"joblib.numpy_pickle_compat", "NDArrayWrapper", Grade::kDangerous},
      {"lib2to3.pgen2.grammar", "Grammar.loads", Grade::kDangerous},
      {"mailcap", "findmatch", Grade::kDangerous},
      {"ensurepip", "_run_pip", Grade::kDangerous},
      {"torch.utils.collect_env", "run", Grade::kDangerous},
      {"torch.utils.bottleneck.__main__", "run_cprofile", Grade::kDangerous},
      {"torch.utils.data.datapipes.utils.decoder", "basichandlers", Grade::kDangerous},
      {"torch", "HalfTensor", Grade::kAllowed},
      {"torch", "EvilTensor", Grade::kUnknown},
      {"torchvision.models.resnet", "ResNet", Grade::kFramework},
      {"torchvision.ops.misc", "Conv2dNormActivation", Grade::kFramework},
      {"torchvision.models", "resnet18", Grade::kUnknown},
      {"torchvision.io", "VideoReader", Grade::kUnknown},
      {"torch", "bfloat16", Grade::kAllowed},
      {"torch.nn.parameter", "Parameter", Grade::kAllowed},
      {"_codecs", "encode", Grade::kAllowed},
      {"builtins", "set", Grade::kAllowed},
      {"__builtin__", "set", Grade::kAllowed},
      // what a whole-model save names
      {"torch.nn.modules.linear", "Linear", Grade::kFramework},
      {"torch.nn.modules.container", "Sequential", Grade::kFramework},
      {"torch.optim.adam", "Adam", Grade::kFramework},
      {"collections", "defaultdict", Grade::kFramework},
      {"collections", "Counter", Grade::kFramework},
      {"collections", "deque", Grade::kFramework},
      {"numpy.core.multiarray", "_reconstruct", Grade::kFramework},
      {"numpy._core.multiarray", "_reconstruct", Grade::kFramework},
      {"numpy", "dtype", Grade::kFramework},
      {"numpy", "ndarray", Grade::kFramework},
      {"datetime", "datetime", Grade::kFramework},
      {"argparse", "Namespace", Grade::kFramework},
      {"pathlib", "PosixPath", Grade::kFramework},
      {"copy_reg", "_reconstructor", Grade::kFramework},
      {"torch.jit._pickle", "build_intlist", Grade::kFramework},
      {"joblib.numpy_pickle", "NumpyArrayWrapper", Grade::kFramework},
      // anything else
      {"sklearn.linear_model._logistic", "LogisticRegression", Grade::kUnknown},
      {"my_project.model", "Net", Grade::kUnknown},
      {"collections", "namedtuple", Grade::kUnknown},
      {"torch", "zeros", Grade::kUnknown},
      {"numpy", "array", Grade::kUnknown},
      {"torch.nn.modules.module", "Module.load_state_dict", Grade::kUnknown},
      // code execution, processes, files, network, import machinery
      {"os", "system", Grade::kDangerous},
      {"posix", "system", Grade::kDangerous},
      {"nt", "system", Grade::kDangerous},
      {"os.path", "join", Grade::kDangerous},
      {"subprocess", "Popen", Grade::kDangerous},
      {"pty", "spawn", Grade::kDangerous},
      {"socket", "create_connection", Grade::kDangerous},
      {"shutil", "rmtree", Grade::kDangerous},
      {"importlib", "import_module", Grade::kDangerous},
      {"runpy", "run_path", Grade::kDangerous},
      {"code", "InteractiveInterpreter", Grade::kDangerous},
      {"webbrowser", "open", Grade::kDangerous},
      {"sys", "modules", Grade::kDangerous},
      {"builtins", "eval", Grade::kDangerous},
      {"builtins", "exec", Grade::kDangerous},
      {"builtins", "compile", Grade::kDangerous},
      {"builtins", "getattr", Grade::kDangerous},
      {"builtins", "__import__", Grade::kDangerous},
      {"builtins", "open", Grade::kDangerous},
      {"__builtin__", "eval", Grade::kDangerous},
      {"operator", "attrgetter", Grade::kDangerous},
      {"operator", "methodcaller", Grade::kDangerous},
      {"functools", "partial", Grade::kDangerous},
      {"_codecs", "register", Grade::kDangerous},
      {"timeit", "timeit", Grade::kDangerous},
      {"cProfile", "run", Grade::kDangerous},
      {"profile", "run", Grade::kDangerous},
      {"pydoc", "pipepager", Grade::kDangerous},
      {"distutils.spawn", "spawn", Grade::kDangerous},
      {"trace", "Trace", Grade::kDangerous},
      {"bdb", "Bdb", Grade::kDangerous},
      {"numpy.testing._private.utils", "runstring", Grade::kDangerous},
      {"numpy", "load", Grade::kDangerous},
      {"torch", "load", Grade::kDangerous},
      {"torch.storage", "_load_from_bytes", Grade::kDangerous},
      {"torch.jit", "load", Grade::kDangerous},
      {"torch.jit._pickle", "restore_type_tag", Grade::kDangerous},
      {"torch.hub", "load", Grade::kDangerous},
      {"joblib", "load", Grade::kDangerous},
      {"pickle", "loads", Grade::kDangerous},
      {"types", "FunctionType", Grade::kDangerous},
      // attribute walks reach what their tails name
      {"torch.nn.modules.module", "torch.load", Grade::kDangerous},
      {"my_project", "os.system", Grade::kDangerous},
      {"collections", "OrderedDict.__class__", Grade::kDangerous},
      {"torch.nn.modules.linear", "__builtins__", Grade::kDangerous},
  };
  for (const GradeCase& c : cases) {
    EXPECT_EQ(scan::grade_text(scan::grade_import(c.module, c.name)), scan::grade_text(c.grade))
        << c.module << "." << c.name;
  }
}

}  // namespace
}  // namespace tarnwick
