// `scan` as a gate: what each option does to the grades and verdicts, the exit status of every
// kind of outcome, directories walked with -r and standard input.
#include <gtest/gtest.h>

#include <sstream>

#include "base/json_output.h"
#include "gguf/gguf_builder.h"
#include "safetensors/safetensors_builder.h"
#include "scan/scan_files.h"
#include "scan/scan_inputs.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::checkpoint_zip;
using testing::clean_state_dict;
using testing::pickle_calling;
using testing::run_command;
using testing::TempDir;

// One import of each grade but "allowed" (and OrderedDict, which is).
std::string mixed_pickle() {
  return pickle_calling({{"collections", "OrderedDict"},
                         {"torch.nn.modules.linear", "Linear"},
                         {"sklearn.tree._classes", "DecisionTreeClassifier"},
                         {"posix", "system"}});
}

// "module.name grade" for each import of the first file, and its verdict.
std::string graded(const testing::CommandRun& run) {
  Json document = Json::parse(run.out, nullptr, false);
  if (document.is_discarded()) return "(no document: " + run.err + ")";
  const Json& file = document["files"][0];
  std::string out = file["verdict"].get<std::string>() + ":";
  for (const Json& import : file["imports"]) {
    out += " " + import["name"].get<std::string>() + "=" + import["verdict"].get<std::string>();
  }
  return out;
}

TEST(ScanCommand, FailOnAllowAndPolicyChangeGradesAndVerdicts) {
  TempDir dir;
  std::string mixed = dir.write("mixed.pkl", mixed_pickle());
  std::string framework = dir.write("framework.pkl", pickle_calling({{"torch.nn.modules.linear", "Linear"}}));
  std::string policy = dir.write("team.policy",
                                 "# reviewed by the platform team\n"
                                 "\n"
                                 "allow sklearn.tree._classes.DecisionTreeClassifier  # our own estimator\n"
                                 "  deny torch.nn.modules.linear.Linear\n");
  struct PolicyCase {
    std::vector<std::string> options;
    std::string file;
    int status;
    const char* graded;
  };
  const std::vector<PolicyCase> cases = {
      {{}, mixed, 1, "unsafe: OrderedDict=allowed Linear=framework DecisionTreeClassifier=unknown system=dangerous"},
      {{}, framework, 0, "safe: Linear=framework"},
      {{"--fail-on", "framework"}, framework, 1, "unsafe: Linear=framework"},
      {{"--fail-on", "unknown"}, framework, 0, "safe: Linear=framework"},
      {{"--fail-on", "dangerous"}, framework, 0, "safe: Linear=framework"},
      {{"--allow", "torch.nn.modules.linear.Linear", "--fail-on", "framework"}, framework, 0, "safe: Linear=allowed"},
      {{"--allow", "posix.system", "--allow", "sklearn.tree._classes.DecisionTreeClassifier"}, mixed, 0,
       "safe: OrderedDict=allowed Linear=framework DecisionTreeClassifier=allowed system=allowed"},
      {{"--policy", policy}, mixed, 1,
       "unsafe: OrderedDict=allowed Linear=dangerous DecisionTreeClassifier=allowed system=dangerous"},
      {{"--policy", policy, "--allow", "torch.nn.modules.linear.Linear"}, framework, 1, "unsafe: Linear=dangerous"},
      {{"--policy", policy, "--fail-on", "dangerous"}, framework, 1, "unsafe: Linear=dangerous"},
  };
  for (const PolicyCase& c : cases) {
    std::vector<std::string> args = {"scan", "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.file);
    testing::CommandRun run = run_command(args);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(graded(run), c.graded);
  }
}

TEST(ScanCommand, ADeniedImportSaysSo) {
  TempDir dir;
  std::string file = dir.write("framework.pkl", pickle_calling({{"torch.nn.modules.linear", "Linear"}}));
  testing::CommandRun run = run_command({"scan", "--json", "--policy", dir.write("p", "deny torch.nn.modules.linear.Linear\n"), file});
  Json document = Json::parse(run.out);
  EXPECT_EQ(document["files"][0]["findings"][0]["message"],
            "the pickle imports torch.nn.modules.linear.Linear (denied by the policy, through GLOBAL)");
  EXPECT_EQ(document["policy"]["deny"], Json::array({"torch.nn.modules.linear.Linear"}));
}

// Every outcome's exit status through the process entry, and the error line of each failure.
TEST(ScanCommand, ExitStatuses) {
  TempDir dir;
  std::string safe = dir.write("safe.pt", checkpoint_zip({{"a/data.pkl", clean_state_dict()}}));
  std::string framework = dir.write("framework.pkl", pickle_calling({{"torch.nn.modules.linear", "Linear"}}));
  std::string dangerous = dir.write("dangerous.pkl", pickle_calling({{"posix", "system"}}));
  std::string unscannable = dir.write("cut.pkl", clean_state_dict().substr(0, 40));
  std::string missing = (dir.path() / "missing.pt").string();
  std::string folder = (dir.path() / "folder").string();
  std::filesystem::create_directory(folder);
  std::string bad_policy = dir.write("bad.policy", "allow collections.OrderedDict\npermit os.system\n");
  std::string sarif_in_missing_folder = (dir.path() / "no" / "such" / "scan.sarif").string();
  struct ExitCase {
    std::vector<std::string> args;
    int status;
    std::string err;  // the whole standard error
  };
  const std::string usage =
      "(usage: tarnwick scan [--json] [--sarif FILE] [--fail-on dangerous|unknown|framework] [--allow MODULE.NAME]... "
      "[--policy FILE]... [-r] <file|directory|-> [more...])";
  const std::vector<ExitCase> cases = {
      {{"scan", safe}, 0, ""},
      {{"scan", framework}, 0, ""},
      {{"scan", "--fail-on", "dangerous", framework}, 0, ""},
      {{"scan", "--fail-on", "unknown", framework}, 0, ""},
      {{"scan", "--fail-on", "framework", framework}, 1, "error: scan found 1 unsafe and 0 unscannable file(s)\n"},
      {{"scan", dangerous}, 1, "error: scan found 1 unsafe and 0 unscannable file(s)\n"},
      {{"scan", "--fail-on", "dangerous", dangerous}, 1, "error: scan found 1 unsafe and 0 unscannable file(s)\n"},
      {{"scan", unscannable}, 1, "error: scan found 0 unsafe and 1 unscannable file(s)\n"},
      {{"scan", "--fail-on", "dangerous", unscannable}, 1, "error: scan found 0 unsafe and 1 unscannable file(s)\n"},
      {{"scan", safe, missing}, 2, "error: read " + missing + ": No such file or directory\n"},
      {{"scan", folder}, 2, "error: " + folder + " is a directory (scan the files in it with -r)\n"},
      {{"scan"}, 2, "error: " + usage.substr(1, usage.size() - 2) + "\n"},
      {{"scan", "--strict", safe}, 2, "error: unknown option --strict " + usage + "\n"},
      {{"scan", "-x", safe}, 2, "error: unknown option -x " + usage + "\n"},
      {{"scan", "--fail-on", "allowed", safe}, 2,
       "error: --fail-on takes dangerous, unknown or framework, not `allowed` " + usage + "\n"},
      {{"scan", "--fail-on"}, 2, "error: --fail-on takes dangerous, unknown or framework, not nothing " + usage + "\n"},
      {{"scan", "--allow", "os", safe}, 2, "error: --allow takes MODULE.NAME, not `os` " + usage + "\n"},
      {{"scan", "--policy", bad_policy, safe}, 2,
       "error: policy " + bad_policy + " line 2: expected `allow MODULE.NAME` or `deny MODULE.NAME`, got `permit os.system`\n"},
      {{"scan", "--policy", missing, safe}, 2, "error: read " + missing + ": No such file or directory\n"},
      {{"scan", "--sarif", sarif_in_missing_folder, safe}, 2,
       "error: write " + sarif_in_missing_folder + ": No such file or directory\n"},
      {{"scan", "--sarif", safe, safe}, 2, "error: --sarif " + safe + " is one of the files scanned " + usage + "\n"},
      {{"scan", "-", "-"}, 2, "error: standard input (-) can be scanned once\n"},
      // other commands keep exit status 1 for every failure
      {{"inspect", missing}, 1, ""},
      {{"no-such-command"}, 1, "error: unknown command `no-such-command`. Try `tarnwick help`.\n"},
  };
  for (const ExitCase& c : cases) {
    testing::CommandRun run = run_command(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run.status, c.status);
    if (!c.err.empty() || c.status == 0) {
      EXPECT_EQ(run.err, c.err);
    }
  }
  EXPECT_EQ(testing::read_file(safe).substr(0, 2), "PK") << "the refused --sarif left the scanned file alone";
}

TEST(ScanCommand, DirectoriesAreWalkedWithRecursiveInSortedOrder) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "models" / "b_nested");
  dir.write("models/z.pt", checkpoint_zip({{"a/data.pkl", clean_state_dict()}}));
  dir.write("models/a.pkl", pickle_calling({{"posix", "system"}}));
  dir.write("models/b_nested/m.pkl", pickle_calling({{"torch.nn.modules.linear", "Linear"}}));
  dir.write("models/b_nested/notes.txt", "hello");
  std::string folder = (dir.path() / "models").string();
  testing::CommandRun run = run_command({"scan", "--json", "-r", folder});
  EXPECT_EQ(run.status, 1);
  Json document = Json::parse(run.out);
  std::vector<std::string> walked;
  for (const Json& file : document["files"]) {
    walked.push_back(testing::with_dir_placeholder(file["path"].get<std::string>(), dir) + " " +
                     file["verdict"].get<std::string>());
  }
  EXPECT_EQ(walked, (std::vector<std::string>{"<dir>/models/a.pkl unsafe", "<dir>/models/b_nested/m.pkl safe",
                                              "<dir>/models/b_nested/notes.txt unscannable", "<dir>/models/z.pt safe"}));
  EXPECT_EQ(run_command({"scan", "--recursive", (dir.path() / "models" / "b_nested").string()}).status, 1);
  std::filesystem::remove(dir.path() / "models" / "b_nested" / "notes.txt");
  EXPECT_EQ(run_command({"scan", "-r", (dir.path() / "models" / "b_nested").string()}).status, 0);
}

TEST(ScanCommand, StandardInputIsScannedLikeAFile) {
  TempDir dir;
  std::string gguf = testing::GgufBuilder().kv_string("tokenizer.chat_template", "{{ x.__class__ }}").build();
  struct InputCase {
    const char* name;
    std::string bytes;
    int status;
    const char* format;
    const char* first_finding;
  };
  const std::vector<InputCase> cases = {
      {"a zip checkpoint", checkpoint_zip({{"a/data.pkl", clean_state_dict()}}), 0, "pytorch-zip", ""},
      {"a pickle calling os.system", pickle_calling({{"os", "system"}}), 1, "pickle",
       "dangerous: the pickle imports os.system (through GLOBAL)"},
      {"a plain pickle of a number", testing::PickleBuilder().proto(2).integer(1).stop().str(), 0, "pickle", ""},
      {"safetensors", testing::safetensors_file({{"w", "F32", {2}, std::string(8, 'x')}}), 0, "safetensors", ""},
      {"a GGUF chat template", gguf, 1, "gguf",
       "dangerous: metadata tokenizer.chat_template holds the template construct \"__class__\", which reaches "
       "Python's internals"},
      {"text", "hello", 1, "unknown",
       "unscannable: not a format the scan knows by its content (PyTorch, pickle from protocol 2 on, safetensors, "
       "GGUF); ONNX files and older pickles are known by their names, so scan them as files"},
  };
  for (const InputCase& c : cases) {
    testing::CommandRun run = run_command({"scan", "--json", "-"}, c.bytes);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run.status, c.status) << run.err;
    Json file = Json::parse(run.out)["files"][0];
    EXPECT_EQ(file["path"], "-");
    EXPECT_EQ(file["format"], c.format);
    std::string first = file["findings"].empty() ? ""
                                                 : file["findings"][0]["severity"].get<std::string>() + ": " +
                                                       file["findings"][0]["message"].get<std::string>();
    EXPECT_EQ(first, c.first_finding);
  }
  // Beside files, in the order given.
  std::string safe = dir.write("safe.pt", checkpoint_zip({{"a/data.pkl", clean_state_dict()}}));
  testing::CommandRun mixed = run_command({"scan", "--json", safe, "-"}, pickle_calling({{"os", "system"}}));
  Json document = Json::parse(mixed.out);
  EXPECT_EQ(document["files"][1]["path"], "-");
  EXPECT_EQ(document["summary"]["files_by_verdict"], Json::parse(R"({"safe": 1, "unsafe": 1, "unscannable": 0})"));
}

TEST(ScanCommand, StandardInputIsBounded) {
  std::istringstream in(std::string(3 << 20, 'x'));
  Result<std::string> read = scan::read_bounded(in, std::uint64_t{2} << 20);
  ASSERT_FALSE(read.is_ok());
  EXPECT_EQ(read.message(), "read -: more than 2 MiB from standard input");
  EXPECT_EQ(read.error().exit_status, 2);
  std::istringstream small("abc");
  EXPECT_EQ(scan::read_bounded(small, 3).value(), "abc");
}

}  // namespace
}  // namespace tarnwick
