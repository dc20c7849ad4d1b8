#include "cli/command_table.h"

#include "cbm/catboost_commands.h"
#include "demo/teaching.h"
#include "lightgbm/lightgbm_commands.h"
#include "cli/check_command.h"
#include "cli/contents_command.h"
#include "cli/explain_diff.h"
#include "cli/routing.h"
#include "cli/version_command.h"
#include "model/plan_commands.h"
#include "onnx/onnx_commands.h"
#include "cli/profile_dispatch.h"
#include "pt/pytorch_commands.h"
#include "python/convert.h"
#include "python/doctor.h"
#include "scan/scan_command.h"

namespace tarnwick {

namespace {

const OptionHelp kJson{"--json", "", "print one JSON document instead of the text report"};
const OptionHelp kLimit{"--limit", "N", "list at most N items in each cut list (default 20; JSON is never cut)"};
const OptionHelp kDeep{"--deep", "", "CatBoost only: read the model through the Python helper (needs Python)"};

const std::vector<CommandEntry>& entries() {
  static const std::vector<CommandEntry> kEntries{
      {"doctor", {}, doctor_command,
       "Report which Python interpreter the helpers would use and what it can load.",
       {{"tarnwick doctor [--json]"}},
       {kJson},
       "tarnwick doctor --json"},
      {"convert", {}, convert_command,
       "Un-pickle a model (a .pkl or an MLflow model directory) to a native .txt or .cbm file;\n"
       "needs Python.",
       {{"tarnwick convert <model.pkl|mlflow-dir> [--out path]"}},
       {{"--out", "PATH", "where to write the converted model", "-o"}},
       "tarnwick convert model.pkl --out model.txt"},
      {"inspect", {}, inspect_command,
       "What is inside one model artifact, routed by its kind.",
       {{"tarnwick inspect [--deep] [--json] [--limit 20] "
         "<model.cbm|model.lgb|model.onnx|model.pt|model.safetensors|model.gguf|model.json>"}},
       {kJson, kLimit, kDeep},
       "tarnwick inspect --json model.onnx"},
      {"diff", {}, diff_command,
       "What changed between two artifacts of the same kind, field by field; with --contents,\n"
       "tensor by tensor or tree by tree, across formats too.",
       {{"tarnwick diff [--deep] [--json] <old-model> <new-model>"},
        {"tarnwick diff --contents [--json] [--limit N] <old-model> <new-model>", true},
        {"tarnwick diff --contents --values [--map FILE] [--match-by-content] <old-model> <new-model>", true}},
       {kJson,
        {"--contents", "", "compare what the files hold: tensors by name, or trees"},
        {"--limit", "N", "with --contents: list at most N names in each list (default 20)"},
        {"--values", "", "with --contents: how each changed tensor's values moved (max_abs, mean_abs, rel_l2, cosine)"},
        {"--map", "FILE", "with --contents: match old names to new ones, one \"old-name new-name\" pair a line"},
        {"--match-by-content", "", "with --contents: pair removed and added tensors whose fingerprints are equal"},
        kDeep},
       "tarnwick diff --contents old.safetensors new.safetensors"},
      {"explain-diff", {}, explain_diff_command,
       "What changed between two artifacts, in plain words: layers, parameters, cost, new operators;\n"
       "for tensor checkpoints, the tensors added, removed and changed.",
       {{"tarnwick explain-diff <old-model> <new-model>"}},
       {},
       "tarnwick explain-diff old.onnx new.onnx"},
      {"check", {}, check_command,
       "Gate a pipeline: compare two artifacts against limits; exit status 1 after the whole report\n"
       "when a rule fails.",
       {{"tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] "
         "[--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>"},
        {"tarnwick check --json [rules...] <old-model> <new-model>  (the check report as one JSON document)", true},
        {"tarnwick check [--fail-on-nonfinite] [--max-tensor-change REL] [--frozen GLOB]... <old-model> <new-model>",
         true},
        {"tarnwick check --max-serving-memory SIZE [--context N] <old-model> <new-model>", true}},
       {kJson,
        {"--max-size-growth", "P", "fail when the file grows by more than P percent"},
        {"--max-ops-growth", "P", "ONNX: fail when the estimated operations grow by over P percent"},
        {"--max-parameter-growth", "P", "fail when the parameter count grows by more than P percent"},
        {"--fail-on-feature-change", "", "fail when the feature (or tensor or parameter) names change"},
        {"--fail-on-training-config-change", "", "fail when the training configuration (or metadata) changes"},
        {"--fail-on-new-op", "", "ONNX: fail when the new model uses an operator type the old does not"},
        {"--fail-on-nonfinite", "", "tensor checkpoints: fail when a tensor of the new model holds NaN or Inf"},
        {"--max-tensor-change", "REL", "tensor checkpoints: fail when a tensor's rel_l2 change exceeds REL (0.05)"},
        {"--frozen", "GLOB", "tensor checkpoints: fail unless the tensors matching GLOB are bit-identical"},
        {"--max-serving-memory", "SIZE",
         "safetensors/GGUF: fail when the new model's weights and float16 KV cache exceed SIZE (24GiB)"},
        {"--context", "N", "with --max-serving-memory: tokens in the KV cache (default: the stated context)"}},
       "tarnwick check --max-size-growth 20% --fail-on-new-op old.onnx new.onnx"},
      {"contents", {}, contents_command,
       "What the file holds, exactly: every tensor (PyTorch, safetensors, GGUF, ONNX, NumPy, TFLite,\n"
       "Keras) or every tree (CatBoost, LightGBM, XGBoost).",
       {{"tarnwick contents [--json] [--limit N] [--stats] <model>", true}},
       {kJson, kLimit,
        {"--stats", "", "tensors: min, max, mean, std, l2, zeros, NaN and Inf of each tensor's values"}},
       "tarnwick contents --limit 5 model.safetensors"},
      {"catboost", {"cbm"}, catboost_command,
       "CatBoost inspector: one report per .cbm file.",
       {{"tarnwick catboost [--deep] [--json] [--limit 20] <model.cbm> [more.cbm...]"}},
       {kJson, kLimit, kDeep},
       "tarnwick catboost --limit 5 model.cbm"},
      {"lightgbm", {"lgbm"}, lightgbm_command,
       "LightGBM inspector: one report per text model.",
       {{"tarnwick lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]"}},
       {kJson, kLimit},
       "tarnwick lightgbm model.txt"},
      {"onnx", {}, onnx_command,
       "ONNX inspector: graph, operators, parameters and the estimated cost.",
       {{"tarnwick onnx [--json] [--limit 20] <model.onnx>"}},
       {kJson, kLimit},
       "tarnwick onnx --json model.onnx"},
      {"profile", {}, profile_dispatch,
       "The cost of an ONNX graph with its shapes propagated: MACs, FLOPs, peak activations,\n"
       "per op type; of a safetensors or GGUF language model: weights and KV cache in memory.",
       {{"tarnwick profile [--json] [--strict] [--limit N] [--dim NAME=VALUE]... <model.onnx>", true},
        {"tarnwick profile [--json] [--context N] [--batch B] [--cache-dtype TYPE] <checkpoint>", true}},
       {kJson,
        {"--strict", "", "exit 1 when the totals are incomplete or an external data file failed its checks"},
        kLimit,
        {"--dim", "NAME=VALUE", "bind the graph's symbolic dim NAME to VALUE (at least 1); others are taken as 1"},
        {"--context", "N", "checkpoint: tokens the KV cache holds (default: the context length the model states)"},
        {"--batch", "B", "checkpoint: sequences served at once (default 1)"},
        {"--cache-dtype", "TYPE", "checkpoint: the KV cache's type (default float16; float32, bfloat16, q8_0, q4_0...)"}},
       "tarnwick profile --dim batch=8 model.onnx"},
      {"pytorch", {"pt"}, pytorch_command,
       "PyTorch inspector: one report per checkpoint (zip or legacy), never unpickled.",
       {{"tarnwick pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]"}},
       {kJson, kLimit},
       "tarnwick pytorch model.pt"},
      {"explain", {}, explain_command,
       "Explain a model's architecture (ONNX, CatBoost and the other kinds), or a tensor-lab topic:\n"
       "tensor, matmul, linear, softmax, attention, transformer.",
       {{"tarnwick explain <model.onnx|model.cbm>"},
        {"tarnwick explain <topic> [--step] [--shapes|--memory|--math|--compare] [--quiz]"}},
       {{"--step", "", "topic: wait for Enter between steps"},
        {"--shapes", "", "topic: show the shapes only"},
        {"--memory", "", "topic: show the memory only"},
        {"--math", "", "topic: show the arithmetic only"},
        {"--compare", "", "topic: show the comparison only"},
        {"--quiz", "", "topic: end with a question"}},
       "tarnwick explain model.onnx"},
      {"trace", {"summary"}, trace_command,
       "Tensor lab: trace a plan step by step with shapes and costs.",
       {{"tarnwick trace <model.json>"}},
       {},
       "tarnwick trace examples/tiny_attention_plan.json"},
      {"compare", {}, compare_command,
       "Tensor lab: compare the costs of a plan's steps in one table.",
       {{"tarnwick compare <model.json>"}},
       {},
       "tarnwick compare examples/tiny_attention_plan.json"},
      {"why", {}, why_command,
       "Tensor lab: explain where a plan's attention cost comes from.",
       {{"tarnwick why <model.json>"}},
       {},
       "tarnwick why examples/tiny_attention_plan.json"},
      {"validate", {}, validate_command,
       "Tensor lab: check a plan's shapes and show the first error with its rule and fix.",
       {{"tarnwick validate <model.json>"}},
       {},
       "tarnwick validate examples/broken_shape.json"},
      {"tensor-inspect", {}, tensor_inspect_command,
       "Tensor lab: the layers, shapes and parameters of a plan.",
       {{"tarnwick tensor-inspect <model.json>"}},
       {},
       "tarnwick tensor-inspect examples/mlp.json"},
      {"run", {}, run_command,
       "Tensor lab: run a plan on its input and show each layer's output.",
       {{"tarnwick run <model.json> [--values] [--heatmap]"}},
       {{"--values", "", "print each layer's values"}, {"--heatmap", "", "print each layer's values as a heatmap"}},
       "tarnwick run examples/mlp.json --values"},
      {"bench", {}, bench_command,
       "Tensor lab: time a plan's layers over repeated runs.",
       {{"tarnwick bench <model.json> [--iters 1000]"}},
       {{"--iters", "N", "run the plan N times (default 1000)"}},
       "tarnwick bench examples/mlp.json --iters 100"},
      {"quiz", {}, quiz_command,
       "Tensor lab: questions on a plan's shapes, answered on standard input.",
       {{"tarnwick quiz <model.json>"}},
       {},
       "tarnwick quiz examples/mlp.json"},
      {"demo", {}, demo_command,
       "Tensor lab: a built-in attention demonstration.",
       {{"tarnwick demo [attention] [--step] [--values]"}},
       {{"--step", "", "wait for Enter between steps"}, {"--values", "", "print the tensors' values"}},
       "tarnwick demo attention --values"},
      {"explain-model", {"walkthrough"}, explain_model_command,
       "Tensor lab: walk through a plan layer by layer in plain words.",
       {{"tarnwick explain-model <model.json>"}},
       {},
       "tarnwick explain-model examples/tiny_attention.json"},
      {"scan", {}, scan_command,
       "Safety gate: grades every import that loading a pickle-based file would perform and checks the\n"
       "layout rules of the other formats. Exit status 0 within the policy, 1 for an unsafe or\n"
       "unscannable file, 2 for a usage error or a path that cannot be read.",
       {{"tarnwick scan [--json] [--sarif FILE] [--fail-on dangerous|unknown|framework] [--allow MODULE.NAME]... "
         "[--policy FILE]... [-r] <file|directory|-> [more...]",
         true}},
       {kJson,
        {"--sarif", "FILE", "also write the findings as SARIF 2.1.0 to FILE"},
        {"--fail-on", "GRADE", "the lowest grade that fails: dangerous, unknown (default) or framework"},
        {"--allow", "MODULE.NAME", "grade this import allowed (repeatable)"},
        {"--policy", "FILE", "read `allow MODULE.NAME` and `deny MODULE.NAME` lines (repeatable)"},
        {"--recursive", "", "walk directories, files in sorted order", "-r"},
        {"--", "", "what follows is a file, even when it begins with a hyphen"}},
       "tarnwick scan -r --sarif scan.sarif downloads/",
       true},
      {"version", {"--version"}, version_command,
       "Print the program's version.",
       {{"tarnwick version", true}},
       {},
       "tarnwick version"},
  };
  return kEntries;
}

}  // namespace

std::span<const CommandEntry> command_table() { return entries(); }

const CommandEntry* find_command(std::string_view word) {
  for (const CommandEntry& entry : entries()) {
    if (entry.word == word) return &entry;
    for (std::string_view alias : entry.aliases) {
      if (alias == word) return &entry;
    }
  }
  return nullptr;
}

const OptionHelp* find_option(const CommandEntry& entry, std::string_view word) {
  for (const OptionHelp& option : entry.options) {
    if (option.name == word || (!option.short_name.empty() && option.short_name == word)) return &option;
  }
  return nullptr;
}

}  // namespace tarnwick
