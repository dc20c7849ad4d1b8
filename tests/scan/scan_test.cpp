#include <gtest/gtest.h>

#include <filesystem>

#include "gguf/gguf_builder.h"
#include "onnx/proto_builder.h"
#include "base/program_version.h"
#include "pickle/import_trace.h"
#include "safetensors/safetensors_builder.h"
#include "scan/scan_files.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::build_zip;
using testing::checkpoint_zip;
using testing::clean_state_dict;
using testing::findings_of;
using testing::imports_of;
using testing::PickleBuilder;
using testing::scan_under;
using testing::system_call;
using testing::TempDir;

// Marks the first central-directory entry (and its local header) as deflated.
std::string with_first_entry_compressed(std::string zip) {
  zip[8] = 8;
  zip[zip.find("PK\x01\x02") + 10] = 8;
  return zip;
}

std::string legacy_with_object(const std::string& object) {
  std::string magic = PickleBuilder().proto(2).op(0x8a).le(10, 1).raw("\x6c\xfc\x9c\x46\xf9\x20\x6a\xa8\x50\x19").stop().str();
  std::string protocol = PickleBuilder().proto(2).integer(1001).stop().str();
  std::string sys = PickleBuilder().proto(2).op('}').stop().str();
  std::string keys = PickleBuilder().proto(2).op(']').short_unicode("0").op('a').stop().str();
  return magic + protocol + sys + object + keys + PickleBuilder().le(2, 8).raw("12345678").str();
}

struct MaliciousCase {
  const char* name;
  const char* file;
  std::string bytes;
  const char* format;
  const char* verdict;
  const char* imports;
  const char* finding;  // a line every such file must report
};

std::vector<MaliciousCase> malicious_cases() {
  std::string evil_object;
  {
    PickleBuilder p;
    p.proto(2);
    testing::begin_state_dict(p);
    p.short_unicode("w");
    system_call(p);
    testing::end_state_dict(p);
    evil_object = p.stop().str();
  }
  PickleBuilder memo;
  memo.proto(4).short_unicode("os").op(0x94).short_unicode("system").op(0x94).op('0').op('0');
  memo.op('h').le(0, 1).op('h').le(1, 1).op(0x93).short_unicode("id").op(0x85).op('R').stop();
  PickleBuilder eval;
  eval.proto(2).global("builtins", "eval").short_unicode("1").op(0x85).op('R');
  eval.stack_global("builtins", "exec").short_unicode("pass").op(0x85).op('R').op(0x86).stop();
  PickleBuilder inst;
  inst.mark().short_unicode("ls").line('i', "subprocess\nPopen").stop();
  PickleBuilder obj;
  obj.proto(1).mark().global("subprocess", "Popen").short_unicode("ls").op('o').stop();
  PickleBuilder nested;
  nested.proto(2).op('}').short_unicode("model").op('}').short_unicode("x").op(']').mark().integer(1);
  system_call(nested);
  nested.op('e').op('s').op('s').stop();
  PickleBuilder truncated_after_payload;
  truncated_after_payload.proto(2);
  system_call(truncated_after_payload);
  truncated_after_payload.short_unicode("more");
  std::string cut = truncated_after_payload.str();
  cut.pop_back();
  PickleBuilder loader;
  loader.proto(2).global("torch.storage", "_load_from_bytes").op('B').le(1, 4).raw("x").op(0x85).op('R').stop();
  PickleBuilder torch_prefix;
  torch_prefix.proto(2).global("torch.nn.modules.linear", "Linear").op(')').op(0x81).stop();
  PickleBuilder call_result;
  call_result.proto(2).global("collections", "OrderedDict").op(')').op('R').op(')').op('R').stop();

  return {
      {"os.system through GLOBAL in a zip", "evil.pt", checkpoint_zip({{"a/data.pkl", evil_object}}), "pytorch-zip",
       "unsafe", "collections.OrderedDict allowed x2, posix.system dangerous x1",
       "dangerous: a/data.pkl imports posix.system (through GLOBAL)"},
      {"os.system through STACK_GLOBAL with memoised strings", "memo.pkl", memo.str(), "pickle", "unsafe",
       "os.system dangerous x1", "dangerous: the pickle imports os.system (through STACK_GLOBAL)"},
      {"builtins.eval and exec", "eval.pkl", eval.str(), "pickle", "unsafe",
       "builtins.eval dangerous x1, builtins.exec dangerous x1",
       "dangerous: the pickle imports builtins.exec (through STACK_GLOBAL)"},
      {"subprocess.Popen via INST", "inst.pkl", inst.str(), "pickle", "unsafe", "subprocess.Popen dangerous x1",
       "dangerous: the pickle imports subprocess.Popen (through INST)"},
      {"subprocess.Popen via OBJ", "obj.pkl", obj.str(), "pickle", "unsafe", "subprocess.Popen dangerous x1",
       "dangerous: the pickle imports subprocess.Popen (through GLOBAL)"},
      {"payload in the fourth pickle of a legacy file", "legacy.pth", legacy_with_object(evil_object),
       "pytorch-legacy", "unsafe", "collections.OrderedDict allowed x2, posix.system dangerous x1",
       "dangerous: pickle 4 of 5 imports posix.system (through GLOBAL)"},
      {"a second data.pkl in a zip", "two.pt",
       checkpoint_zip({{"a/data.pkl", clean_state_dict()}, {"a/data.pkl", evil_object}}), "pytorch-zip", "unsafe",
       "collections.OrderedDict allowed x5, torch._utils._rebuild_tensor_v2 allowed x1, torch.FloatStorage allowed x1, "
       "posix.system dangerous x1",
       "info: 2 pickle entries in the archive, all scanned"},
      {"a payload inside a nested container", "nested.ckpt", nested.str(), "pickle", "unsafe", "posix.system dangerous x1",
       "dangerous: the pickle imports posix.system (through GLOBAL)"},
      {"a pickle entry marked deflated that does not inflate", "packed.pt",
       with_first_entry_compressed(checkpoint_zip({{"a/data.pkl", clean_state_dict()}})), "pytorch-zip", "unscannable", "",
       "unscannable: a/data.pkl: corrupt compressed stream (invalid stored block lengths)"},
      {"a truncated stream", "cut.pkl", clean_state_dict().substr(0, 40), "pickle", "unscannable",
       "collections.OrderedDict allowed x1",
       "unscannable: the pickle: pickle ends inside the text line of GLOBAL at offset 33"},
      {"a payload before the truncation", "cut_evil.pkl", cut, "pickle", "unsafe", "posix.system dangerous x1",
       "unscannable: the pickle: pickle ends inside the argument of SHORT_BINUNICODE at offset 30"},
      {"a pickle of 0x80 alone", "lone.pkl", "\x80", "pickle", "unscannable", "",
       "unscannable: the pickle: pickle ends inside the argument of PROTO at offset 0"},
      {"an unknown opcode", "odd.pkl", PickleBuilder().proto(2).none().op(0xf0).stop().str(), "pickle", "unscannable", "",
       "unscannable: the pickle: unknown opcode 0xf0 at offset 3"},
      {"STACK_GLOBAL over a value that is no string", "computed.pkl",
       PickleBuilder().proto(4).integer(1).short_unicode("system").op(0x93).stop().str(), "pickle", "unscannable", "",
       "unscannable: the pickle: STACK_GLOBAL takes a module or name that is not a plain string (STACK_GLOBAL at "
       "offset 12); a loader stops here"},
      {"torch.storage._load_from_bytes", "load.pt", loader.str(), "pickle", "unsafe",
       "torch.storage._load_from_bytes dangerous x1",
       "dangerous: the pickle imports torch.storage._load_from_bytes (through GLOBAL)"},
      {"a torch module: framework, within the default policy", "module.pt", torch_prefix.str(), "pickle", "safe",
       "torch.nn.modules.linear.Linear framework x1",
       "framework: the pickle imports torch.nn.modules.linear.Linear (through GLOBAL)"},
      {"calling the result of a call", "call.pkl", call_result.str(), "pickle", "unsafe", "collections.OrderedDict allowed x1",
       "dangerous: the pickle: REDUCE at offset 30 calls a value that is not an imported name"},
      {"a clean zip checkpoint", "clean.pt", checkpoint_zip({{"a/data.pkl", clean_state_dict()}}), "pytorch-zip", "safe",
       "collections.OrderedDict allowed x3, torch._utils._rebuild_tensor_v2 allowed x1, torch.FloatStorage allowed x1",
       ""},
      {"a text file", "notes.txt", "hello", "unknown", "unscannable", "",
       "unscannable: not a format the scan knows (PyTorch, pickle, ONNX, safetensors, GGUF)"},
  };
}

TEST(Scan, MaliciousFilesGetTheirVerdictAndNameTheImport) {
  TempDir dir;
  for (const MaliciousCase& c : malicious_cases()) {
    testing::PolicyScan result = scan_under(dir.write(c.file, c.bytes));
    const scan::FileScan& scan = result.scan;
    EXPECT_EQ(scan.format, c.format) << c.name;
    EXPECT_EQ(result.verdict, c.verdict) << c.name << "\n" << findings_of(scan);
    EXPECT_EQ(imports_of(scan), c.imports) << c.name;
    std::string findings = findings_of(scan);
    if (*c.finding != '\0') {
      EXPECT_NE(findings.find(std::string(c.finding) + "\n"), std::string::npos) << c.name << "\n" << findings;
    } else {
      EXPECT_EQ(findings, "") << c.name;
    }
  }
}

// Temporary paths and the release vary from run to run: goldens show <dir> and <version>.
std::string normalised(std::string text, const TempDir& dir) {
  text = testing::with_dir_placeholder(std::move(text), dir);
  const std::string version = "\"" + std::string(program_version()) + "\"";
  for (std::size_t at = text.find(version); at != std::string::npos; at = text.find(version, at)) {
    text.replace(at, version.size(), "\"<version>\"");
  }
  return text;
}

// One file of each verdict and of each grade, in both reports.
TEST(Scan, ReportsShowEveryGradeAndTheSummary) {
  TempDir dir;
  std::vector<MaliciousCase> cases = malicious_cases();
  std::string evil = dir.write("evil.pt", cases[0].bytes), memo = dir.write("memo.pkl", cases[1].bytes),
              lone = dir.write("lone.pkl", "\x80"), clean = dir.write("clean.pt", cases[17].bytes);
  std::string whole_model = dir.write(
      "whole_model.pt", checkpoint_zip({{"a/data.pkl", testing::pickle_calling({{"torch.nn.modules.linear", "Linear"},
                                                                                {"collections", "OrderedDict"},
                                                                                {"argparse", "Namespace"}})}}));
  std::string estimator = dir.write(
      "estimator.pkl", testing::pickle_calling({{"sklearn.linear_model._logistic", "LogisticRegression"},
                                                {"numpy.core.multiarray", "_reconstruct"},
                                                {"numpy", "ndarray"}}));
  testing::CommandRun text = testing::run_command({"scan", evil, memo, lone, clean, whole_model, estimator});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.err, "error: scan found 3 unsafe and 1 unscannable file(s)\n");
  testing::expect_golden(normalised(text.out, dir), "scan/scan_report.txt");
  testing::CommandRun json = testing::run_command(
      {"scan", "--json", "--allow", "sklearn.linear_model._logistic.LogisticRegression", evil, lone, clean, whole_model,
       estimator});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, "error: scan found 1 unsafe and 1 unscannable file(s)\n");
  testing::expect_golden(normalised(json.out, dir), "scan/scan_report.json");
}

TEST(Scan, EveryCorpusCheckpointIsSafe) {
  TARNWICK_REQUIRE_CORPUS("pytorch");
  int scanned = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string extension = entry.path().extension().string();
    if (extension == ".onnx") continue;
    testing::PolicyScan result = scan_under(entry.path().string());
    const scan::FileScan& scan = result.scan;
    EXPECT_EQ(result.verdict, "safe") << entry.path() << "\n" << findings_of(scan);
    EXPECT_TRUE(scan.format == "pytorch-zip" || scan.format == "pytorch-legacy") << entry.path();
    EXPECT_EQ(scan.pickles_scanned, scan.format == "pytorch-legacy" ? 5u : 1u) << entry.path();
    ++scanned;
  }
  EXPECT_EQ(scanned, 10);
}

testing::Message located_tensor(const std::string& name, const std::string& location) {
  return testing::external_tensor(name, {4}, {{"location", location}});
}

TEST(Scan, OnnxExternalDataMustStayBesideTheModel) {
  struct OnnxCase {
    const char* location;
    bool in_subgraph;
    const char* verdict;
    const char* finding;
  };
  const std::vector<OnnxCase> cases = {
      {"weights.bin", false, "safe", ""},
      {"data/./w.bin", true, "safe", ""},
      {"/etc/passwd", false, "unsafe", "dangerous: initializer w reads external data from an absolute path: /etc/passwd\n"},
      {"C:\\secret", false, "unsafe", "dangerous: initializer w reads external data from an absolute path: C:\\secret\n"},
      {"data/../../x.bin", true, "unsafe",
       "dangerous: initializer w (in if/then_branch) reads external data outside the model's directory: "
       "data/../../x.bin\n"},
      {"", false, "unsafe", "dangerous: initializer w keeps external data without a location\n"},
  };
  TempDir dir;
  for (const OnnxCase& c : cases) {
    testing::Message graph;
    graph.add_message(1, testing::node("Relu", "n", {"x"}, {"y"}));
    if (c.in_subgraph) {
      testing::Message body, node;
      body.add_message(5, located_tensor("w", c.location));
      node = testing::node("If", "if", {"c"}, {"z"});
      node.add_message(5, testing::graph_attribute("then_branch", body));
      graph.add_message(1, node);
    } else {
      graph.add_message(5, located_tensor("w", c.location));
    }
    testing::PolicyScan result = scan_under(dir.write("m.onnx", testing::model(graph)));
    const scan::FileScan& scan = result.scan;
    EXPECT_EQ(scan.format, "onnx");
    EXPECT_EQ(result.verdict, c.verdict) << c.location;
    EXPECT_EQ(findings_of(scan), c.finding) << c.location;
  }
}

TEST(Scan, SafetensorsAndGgufMustKeepTheirLayoutRules) {
  using testing::SafetensorsTensor;
  std::string good_safetensors = testing::safetensors_file({{"w", "F32", {2}, std::string(8, 'x')}});
  std::string overlapping = testing::safetensors_raw(
      R"({"a":{"dtype":"F32","shape":[2],"data_offsets":[0,8]},"b":{"dtype":"F32","shape":[2],"data_offsets":[4,12]}})",
      std::string(12, 'x'));
  std::string good_gguf = testing::GgufBuilder().kv_u32("general.alignment", 32).tensor("w", {4}, 0, std::string(16, 'x')).build();
  std::string lying_gguf = testing::GgufBuilder().counts(1000, 0).build();
  struct LayoutCase {
    const char* file;
    std::string bytes;
    const char* format;
    const char* verdict;
  };
  const std::vector<LayoutCase> cases = {
      {"good.safetensors", good_safetensors, "safetensors", "safe"},
      {"overlap.safetensors", overlapping, "safetensors", "unsafe"},
      {"renamed.bin", good_safetensors, "safetensors", "safe"},
      {"good.gguf", good_gguf, "gguf", "safe"},
      {"lying.gguf", lying_gguf, "gguf", "unsafe"},
  };
  TempDir dir;
  for (const LayoutCase& c : cases) {
    testing::PolicyScan result = scan_under(dir.write(c.file, c.bytes));
    const scan::FileScan& scan = result.scan;
    EXPECT_EQ(scan.format, c.format) << c.file;
    EXPECT_EQ(result.verdict, c.verdict) << c.file << "\n" << findings_of(scan);
    EXPECT_TRUE(scan.imports.empty()) << c.file;
    if (std::string(c.verdict) == "unsafe") {
      EXPECT_TRUE(findings_of(scan).starts_with("dangerous: breaks the format's layout rules: ")) << findings_of(scan);
    }
  }
}

// A pickle of a million memoised strings is followed in one step per opcode and holds one slot
// per memo entry, never more.
TEST(Scan, WorkAndSlotsGrowWithThePickleOnly) {
  PickleBuilder p;
  p.proto(4).op(']').op(0x94).mark();
  const int items = 1000000;
  for (int i = 0; i < items; ++i) {
    p.short_unicode("k").op(0x94);
    if (i % 1000 == 999) p.op('e').mark();
  }
  p.op('e').stop();
  std::string bytes = p.str();
  scan::PickleTrace trace = scan::trace_pickle(bytes);
  EXPECT_TRUE(trace.stopped);
  EXPECT_TRUE(trace.unscannable.empty());
  EXPECT_EQ(trace.steps, 4u + 2u * items + 2u * (items / 1000) + 2u);
  EXPECT_LE(trace.max_slots, items + 1000u + 3u);

  PickleBuilder dup;
  dup.op(')');
  for (int i = 0; i < 200000; ++i) dup.op('2').op(0x86);
  scan::PickleTrace nested = scan::trace_pickle(dup.stop().str());
  EXPECT_TRUE(nested.stopped);
  EXPECT_EQ(nested.steps, 400002u);
  EXPECT_LE(nested.max_slots, 2u);
}

}  // namespace
}  // namespace tarnwick
