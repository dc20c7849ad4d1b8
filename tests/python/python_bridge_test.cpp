// The Python bridge run end to end with stand-in interpreters and stand-in packages.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "python/python_runner.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::ScopedEnv;
using testing::TempDir;

const std::string kStandins = std::string(TARNWICK_SOURCE_DIR) + "/tests/python/standins";

std::string executable(const TempDir& dir, const std::string& name, const std::string& script) {
  std::string path = dir.write(name, script);
  ::chmod(path.c_str(), 0755);
  return path;
}

// A python3 that sees the stand-in packages; `extra` paths come first on PYTHONPATH.
std::string python_with_standins(const TempDir& dir, const std::string& name = "standin-python") {
  return executable(dir, name, "#!/bin/sh\nPYTHONPATH='" + kStandins + "' exec python3 \"$@\"\n");
}

// Runs in a fresh directory with no .venv, and with PATH reduced to `path`.
class BridgeEnvironment {
 public:
  explicit BridgeEnvironment(const std::string& path, const char* vesprine_python)
      : saved_cwd_(std::filesystem::current_path()),
        python_("VESPRINE_PYTHON", vesprine_python),
        path_("PATH", path.c_str()) {
    std::filesystem::current_path(cwd_.path());
  }
  ~BridgeEnvironment() { std::filesystem::current_path(saved_cwd_); }
  const TempDir& cwd() const { return cwd_; }

 private:
  std::filesystem::path saved_cwd_;
  TempDir cwd_;
  ScopedEnv python_, path_;
};

std::string system_path() { return std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"; }

TEST(PythonCandidates, EnvironmentVariableAndDefaults) {
  {
    ScopedEnv unset("VESPRINE_PYTHON", nullptr);
    EXPECT_EQ(python_candidates(), (std::vector<std::string>{".venv/bin/python", "python3"}));
  }
  {
    ScopedEnv empty("VESPRINE_PYTHON", "");
    EXPECT_EQ(python_candidates(), (std::vector<std::string>{"", ".venv/bin/python", "python3"}));
  }
  ScopedEnv set("VESPRINE_PYTHON", "/opt/py");
  EXPECT_EQ(python_candidates().front(), "/opt/py");
}

TEST(PythonRunner, CapturesOutputStatusAndStartFailures) {
  TempDir dir;
  std::string noisy =
      executable(dir, "noisy", "#!/bin/sh\nread line && echo got-input\necho out; echo err >&2; exit 3\n");
  Result<PythonRun> run = run_python(noisy, {});
  ASSERT_TRUE(run.is_ok()) << run.message();
  EXPECT_EQ(run.value().exit_status, 3);
  EXPECT_EQ(run.value().standard_output, "out\n") << "standard input is empty";
  EXPECT_EQ(run.value().standard_error, "err\n");

  // Large output on both streams must not block the child.
  std::string flood = executable(dir, "flood", "#!/bin/sh\nhead -c 300000 /dev/zero; head -c 300000 /dev/zero >&2\n");
  Result<PythonRun> flooded = run_python(flood, {});
  ASSERT_TRUE(flooded.is_ok());
  EXPECT_EQ(flooded.value().standard_output.size(), 300000u);
  EXPECT_EQ(flooded.value().standard_error.size(), 300000u);

  EXPECT_EQ(run_python(dir.path().string() + "/missing", {}).message(), "No such file or directory");
  EXPECT_EQ(run_python("", {}).message(), "No such file or directory") << "an empty VESPRINE_PYTHON is a candidate";
  std::string plain = dir.write("not-executable", "#!/bin/sh\n");
  EXPECT_EQ(run_python(plain, {}).message(), "Permission denied");

  // Arguments reach the child as they are; nothing passes through a shell.
  std::string echo = executable(dir, "echo-args", "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done\n");
  Result<PythonRun> echoed = run_python(echo, {"a b", "$(touch pwned)", "'q'"});
  EXPECT_EQ(echoed.value().standard_output, "[a b][$(touch pwned)]['q']");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(Doctor, NoPythonAnywhere) {
  TempDir empty_bin;
  BridgeEnvironment environment(empty_bin.path().string(), "/nonexistent/python");
  testing::CommandRun run = run_command({"doctor"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "tarnwick Doctor\n"
            "----------------\n"
            "\n"
            "Built-in inspectors:\n"
            "  CatBoost metadata: ok\n"
            "  LightGBM text model: ok\n"
            "  ONNX static graph: ok\n"
            "  PyTorch .pt/.pth (zip): ok\n"
            "  JSON tensor plans: ok\n"
            "\n"
            "Optional Python helpers:\n"
            "  Python: missing\n"
            "  Tried:\n"
            "    /nonexistent/python\n"
            "    .venv/bin/python\n"
            "    python3\n"
            "  catboost: unavailable because Python was not found\n"
            "\n"
            "Available commands:\n"
            "  inspect .cbm/.lgb/.onnx/.pt/.json: available\n"
            "  diff .cbm/.lgb/.onnx/.pt: available\n"
            "  explain-diff .cbm/.lgb/.onnx/.pt: available\n"
            "  inspect --deep .cbm: unavailable\n"
            "  diff --deep .cbm: unavailable\n"
            "  convert .pkl/mlflow -> native (needs python + model lib): unavailable\n");
  EXPECT_EQ(run_command({"doctor", "--json", "extra"}).err, "error: usage: tarnwick doctor [--json]\n");
}

TEST(Doctor, SkipsFailingCandidatesAndProbesCatboost) {
  TempDir bin;
  std::string failing = executable(bin, "failing", "#!/bin/sh\necho broken >&2\nexit 1\n");
  BridgeEnvironment environment(system_path(), failing.c_str());
  // The probe runs the interpreter that .venv/bin/python resolves to, so the stand-in
  // packages reach it through the inherited PYTHONPATH.
  ScopedEnv packages("PYTHONPATH", kStandins.c_str());
  std::filesystem::create_directories(environment.cwd().path() / ".venv" / "bin");
  python_with_standins(environment.cwd(), ".venv/bin/python");
  testing::CommandRun run = run_command({"doctor", "--json", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"python_available\": true,\n    \"python_executable\": \""), std::string::npos);
  // The catboost stand-in has no __version__, so the probe reports "installed".
  EXPECT_NE(
      run.out.find("\"catboost_available\": true,\n    \"catboost_version\": \"installed\",\n    \"tried_python\": [\n"
                   "      \"" +
                   failing + "\",\n      \".venv/bin/python\",\n      \"python3\"\n    ]"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"diff_deep_catboost\": true"), std::string::npos);
}

TEST(DeepCatboost, FallbackSectionNamesTheFirstFailure) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  TempDir bin;
  std::string failing = executable(bin, "failing", "#!/bin/sh\necho 'ModuleNotFoundError: no catboost' >&2\nexit 1\n");
  BridgeEnvironment environment(bin.path().string(), failing.c_str());
  testing::CommandRun run = run_command({"explain", (corpus / "codrna.cbm").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Feature Processing:\n  Exact float/categorical feature typing unavailable.\n"
                         "  Reason: " +
                         failing +
                         ": ModuleNotFoundError: no catboost\n"
                         "  Recovered feature names: 0\n\nLearned State:\n"),
            std::string::npos)
      << run.out;

  testing::CommandRun deep =
      run_command({"diff", "--deep", (corpus / "codrna.cbm").string(), (corpus / "codrna.cbm").string()});
  EXPECT_EQ(deep.status, 1);
  EXPECT_NE(deep.out.find("Interpretation:\n"), std::string::npos) << "the static diff stays printed";
  EXPECT_EQ(deep.err,
            "error: CatBoost deep diff needs Python with `catboost` installed. Tried:\n"
            "  " +
                failing +
                ": ModuleNotFoundError: no catboost\n"
                "  .venv/bin/python: No such file or directory\n"
                "  python3: No such file or directory\n");
}

TEST(DeepCatboost, FallbackReasonNamesTheFirstCandidateThatStarted) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  TempDir bin;
  executable(bin, "python3",
             "#!/bin/sh\necho 'Traceback (most recent call last):' >&2\necho '  File \"<string>\", line 18' >&2\n"
             "echo \"ModuleNotFoundError: No module named 'catboost'\" >&2\necho >&2\nexit 1\n");
  struct Case {
    const char* vesprine_python;
    std::string reason;
  };
  const Case cases[] = {
      {"/nonexistent/python", "python3: ModuleNotFoundError: No module named 'catboost'"},
      {nullptr, "python3: ModuleNotFoundError: No module named 'catboost'"},
  };
  for (const Case& c : cases) {
    BridgeEnvironment environment(bin.path().string(), c.vesprine_python);
    testing::CommandRun run = run_command({"explain", (corpus / "codrna.cbm").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("  Exact float/categorical feature typing unavailable.\n  Reason: " + c.reason + "\n"),
              std::string::npos)
        << run.out;
  }
  // With nothing that starts, the first start failure is the reason.
  TempDir empty;
  BridgeEnvironment nothing(empty.path().string(), "/nonexistent/python");
  testing::CommandRun run = run_command({"explain", (corpus / "codrna.cbm").string()});
  EXPECT_NE(run.out.find("  Reason: /nonexistent/python: No such file or directory\n"), std::string::npos) << run.out;
}

TEST(DeepCatboost, ScriptsRunEndToEndWithTheStandInPackage) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  TempDir bin;
  std::string python = python_with_standins(bin);
  BridgeEnvironment environment(system_path(), python.c_str());
  std::string codrna = (corpus / "codrna.cbm").string(), credit = (corpus / "creditgermany.cbm").string();

  testing::CommandRun inspect = run_command({"inspect", "--deep", credit});
  ASSERT_EQ(inspect.status, 0) << inspect.err;
  testing::expect_golden(inspect.out, "python/creditgermany.inspect-deep.txt");
  EXPECT_NE(inspect.out.find("Feature Processing:\n  Float features: 20\n  Categorical features: 0\n"),
            std::string::npos);

  testing::CommandRun deep = run_command({"diff", "--deep", codrna, credit});
  ASSERT_EQ(deep.status, 0) << deep.err;
  testing::expect_golden(deep.out, "python/codrna_vs_creditgermany.diff-deep.txt");
  EXPECT_NE(deep.out.find("CatBoost Deep Diff\n------------------\nRequires: Python catboost package\n\n"
                          "Decoded Structure:\n  Trees: 1000 -> 992\n  Trees removed / added: 8 / 0\n"),
            std::string::npos);
  testing::CommandRun itself = run_command({"diff", "--deep", codrna, codrna});
  ASSERT_EQ(itself.status, 0) << itself.err;
  EXPECT_NE(itself.out.find("  Split positions changed: 0\n"), std::string::npos);
  EXPECT_NE(
      itself.out.find("  Leaf value diffs for paired slots: changed 0 / 64000, mean_abs=0, median_abs=0, max_abs=0\n"),
      std::string::npos);
  // The scripts remove their temporary directories.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    EXPECT_EQ(entry.path().filename().string().rfind("vesprine-catboost-", 0), std::string::npos) << entry.path();
  }
}

// Pickles `expression` (evaluated with the stand-in packages importable) into `path`.
void write_pickle(const std::string& python, const std::string& path, const std::string& imports,
                  const std::string& expression) {
  Result<PythonRun> run = run_python(python, {"-c",
                                              imports +
                                                  "\nimport pickle, sys\n"
                                                  "with open(sys.argv[1], 'wb') as f: pickle.dump(" +
                                                  expression + ", f)",
                                              path});
  ASSERT_TRUE(run.is_ok() && run.value().exit_status == 0)
      << (run.is_ok() ? run.value().standard_error : run.message());
}

TEST(Convert, PicklesAndMlflowDirectoriesToNativeFiles) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  TempDir bin, work;
  std::string python = python_with_standins(bin);
  BridgeEnvironment environment(system_path(), python.c_str());

  std::string booster = work.path().string() + "/booster.pkl";
  write_pickle(python, booster, "import lightgbm", "lightgbm.LGBMRegressor()");
  testing::CommandRun lightgbm = run_command({"convert", booster});
  ASSERT_EQ(lightgbm.status, 0) << lightgbm.err;
  EXPECT_EQ(lightgbm.out, "converted LightGBM model -> " + work.path().string() + "/booster.txt\n");
  testing::CommandRun inspected = run_command({"inspect", work.path().string() + "/booster.txt"});
  EXPECT_EQ(inspected.status, 0) << inspected.err;
  EXPECT_NE(inspected.out.find("  found: 2\n  alpha\n  beta\n"), std::string::npos);

  std::filesystem::create_directories(work.path() / "mlflow_model");
  work.write("mlflow_model/MLmodel",
             "artifact_path: model\nflavors:\n  python_function:\n    loader_module: x\n"
             "  catboost:\n    model_type: CatBoostRegressor\n");
  write_pickle(python, work.path().string() + "/mlflow_model/model.pkl", "import catboost",
               "catboost.CatBoost().load_model('" + (corpus / "codrna.cbm").string() + "')");
  testing::CommandRun catboost = run_command({"convert", work.path().string() + "/mlflow_model/"});
  ASSERT_EQ(catboost.status, 0) << catboost.err;
  EXPECT_EQ(catboost.out, "converted CatBoost model -> " + work.path().string() + "/mlflow_model/model.cbm\n");
  EXPECT_EQ(testing::read_file(work.path().string() + "/mlflow_model/model.cbm"),
            testing::read_file((corpus / "codrna.cbm").string()));

  testing::CommandRun explicit_out = run_command({"convert", "-o", work.path().string() + "/x.txt", booster});
  EXPECT_EQ(explicit_out.out, "converted LightGBM model -> " + work.path().string() + "/x.txt\n");
}

TEST(Convert, ArgumentErrorsAndFailuresOfEveryCandidate) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"convert"}, "usage: tarnwick convert <model.pkl|mlflow-model-dir> [--out path]"},
      {{"convert", "a.pkl", "--out"}, "--out needs a path"},
      {{"convert", "a.pkl", "b.pkl"}, "convert takes one source path"},
      {{"convert", "--force", "a.pkl"}, "unknown convert option `--force`"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_command(c.args).err, "error: " + c.error + "\n");

  TempDir bin, work;
  std::string python = python_with_standins(bin);
  BridgeEnvironment environment(system_path(), python.c_str());
  std::string unsupported = work.path().string() + "/dict.pkl";
  write_pickle(python, unsupported, "", "{'not': 'a model'}");
  testing::CommandRun run = run_command({"convert", unsupported});
  EXPECT_EQ(run.status, 1);
  const std::string message =
      ": convert: unsupported model type `builtins.dict`. Supported: LightGBM (-> .txt) and "
      "CatBoost (-> .cbm).";
  EXPECT_EQ(run.err,
            "error: convert needs Python with the model's library installed (lightgbm or catboost).\n"
            "Point VESPRINE_PYTHON at a suitable interpreter. Tried:\n" +
                python + message + "\n.venv/bin/python: No such file or directory\npython3" + message + "\n");
}

TEST(Convert, NeverOverwritesItsOwnSource) {
  TempDir bin, work;
  std::string python = python_with_standins(bin);
  BridgeEnvironment environment(system_path(), python.c_str());
  std::string dir = work.path().string();
  write_pickle(python, dir + "/model.txt", "import lightgbm", "lightgbm.Booster()");
  write_pickle(python, dir + "/model.pkl", "import lightgbm", "lightgbm.Booster()");
  const std::string pickled = testing::read_file(dir + "/model.txt");
  struct Case {
    std::vector<std::string> args;
    std::string source;
  };
  const Case cases[] = {
      {{"convert", dir + "/model.txt"}, dir + "/model.txt"},
      {{"convert", dir + "/model.pkl", "--out", dir + "/model.pkl"}, dir + "/model.pkl"},
      {{"convert", dir + "/model.pkl", "-o", dir + "/../" + work.path().filename().string() + "/model.pkl"},
       dir + "/model.pkl"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: convert would overwrite its source `" + c.source +
                           "` with the converted model; choose another output path with --out\n");
  }
  EXPECT_EQ(testing::read_file(dir + "/model.txt"), pickled) << "the source is untouched";

  testing::CommandRun elsewhere = run_command({"convert", dir + "/model.txt", "--out", dir + "/converted.txt"});
  ASSERT_EQ(elsewhere.status, 0) << elsewhere.err;
  EXPECT_EQ(elsewhere.out, "converted LightGBM model -> " + dir + "/converted.txt\n");
}

TEST(Convert, ALibraryThatFailsToImportInAnyWaySkipsItsRule) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  TempDir bin, work, broken;
  std::filesystem::create_directories(broken.path() / "lightgbm");
  broken.write("lightgbm/__init__.py", "raise OSError('libgomp.so.1: cannot open shared object file')\n");
  std::string python = python_with_standins(bin);
  std::string broken_python =
      executable(bin, "broken-python",
                 "#!/bin/sh\nPYTHONPATH='" + broken.path().string() + ":" + kStandins + "' exec python3 \"$@\"\n");
  std::string source = work.path().string() + "/cat.pkl";
  write_pickle(python, source, "import catboost",
               "catboost.CatBoost().load_model('" + (corpus / "codrna.cbm").string() + "')");
  BridgeEnvironment environment(system_path(), broken_python.c_str());
  testing::CommandRun run = run_command({"convert", source});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "converted CatBoost model -> " + work.path().string() + "/cat.cbm\n");
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

TEST(PythonRunnerLimits, FloodsAreCutAndLingeringChildrenNotAwaited) {
  CaptureLimits limits;
  limits.max_bytes = 1 << 20;
  limits.quiet_after_exit_ms = 100;

  // An interpreter that never stops printing is stopped once the cap is passed.
  Result<PythonRun> flood = run_python("/bin/sh", {"-c", "yes tarnwick"}, limits);
  ASSERT_FALSE(flood.is_ok());
  EXPECT_EQ(flood.message(), "printed more than 1048576 bytes of output; stopped it there");

  // One that exits but leaves a child holding its output pipe: the run ends with what was
  // printed once the pipe has gone quiet. The child's pid comes back so it can be ended here.
  Result<PythonRun> lingering = run_python("/bin/sh", {"-c", "sleep 30 & echo $!; echo done"}, limits);
  ASSERT_TRUE(lingering.is_ok()) << lingering.message();
  EXPECT_EQ(lingering.value().exit_status, 0);
  std::string out = lingering.value().standard_output;
  ASSERT_TRUE(out.ends_with("\ndone\n")) << out;
  pid_t background = std::stoi(out.substr(0, out.find('\n')));
  EXPECT_EQ(::kill(background, SIGTERM), 0) << "the child was still running, holding the pipe";

  // Output written after the interpreter exits, while the pipe is still busy, is still read.
  limits.quiet_after_exit_ms = 5000;
  Result<PythonRun> late = run_python("/bin/sh", {"-c", "(sleep 0.05; echo late) & echo early"}, limits);
  ASSERT_TRUE(late.is_ok()) << late.message();
  EXPECT_EQ(late.value().standard_output, "early\nlate\n");
}

}  // namespace
}  // namespace tarnwick
