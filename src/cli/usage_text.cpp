#include "cli/usage_text.h"

namespace tarnwick {

// Printed byte for byte; the unindented check line is part of the text.
const std::string_view kHelpText = R"TEXT(tarnwick - inspect ML model artifacts without loading the framework

Core usage:
  tarnwick doctor [--json]
  tarnwick inspect [--deep] [--json] [--limit 20] <model.cbm|model.lgb|model.onnx|model.pt|model.json>
  tarnwick diff [--deep] [--json] <old-model> <new-model>  (.cbm, .lgb/.txt, .onnx, or .pt/.pth)
  tarnwick explain-diff <old-model> <new-model>  (plain-English what changed: layers, params, cost, new ops)
  tarnwick convert <model.pkl|mlflow-dir> [--out path]  (un-pickle a model to native .txt/.cbm; needs Python)

tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] [--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>

Artifact inspectors:
  tarnwick catboost [--deep] [--json] [--limit 20] <model.cbm> [more.cbm...]
  tarnwick lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]
  tarnwick pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]
  tarnwick onnx [--json] [--limit 20] <model.onnx>
  tarnwick explain <model.onnx|model.cbm>

Tensor lab (secondary; see docs/tensor-lab.md):
  tarnwick trace|compare|why|validate|tensor-inspect <model.json>
  tarnwick explain <topic> [--step] [--shapes|--memory|--math|--compare] [--quiz]

Examples:
  tarnwick doctor
  tarnwick doctor --json
  tarnwick inspect path/to/model.cbm
  tarnwick inspect --json path/to/model.cbm
  tarnwick inspect --deep path/to/model.cbm
  tarnwick inspect path/to/model.onnx
  tarnwick onnx --json path/to/model.onnx
  tarnwick explain path/to/model.onnx
  tarnwick explain path/to/model.cbm
  tarnwick diff path/to/old.cbm path/to/new.cbm
  tarnwick diff --json path/to/old.cbm path/to/new.cbm
  tarnwick check --max-size-growth 20% --fail-on-feature-change path/to/old.cbm path/to/new.cbm
  tarnwick diff --deep path/to/old.cbm path/to/new.cbm
  tarnwick trace examples/tiny_attention_plan.json
  tarnwick why examples/tiny_attention_plan.json
)TEXT";

const std::string_view kTourText = R"TEXT(tarnwick tour
--------------
tarnwick answers: what is inside this model artifact, and what changed?

1. Inspect a real artifact
  tarnwick inspect path/to/model.onnx
  tarnwick inspect path/to/model.cbm

2. Diff two model artifacts
  tarnwick diff path/to/old.cbm path/to/new.cbm
  Reports size, tree count, configured depth, estimated row cost, or ONNX graph changes.

3. Use the tensor lab when you want the EXPLAIN ANALYZE analogy
  tarnwick trace examples/tiny_attention_plan.json
  tarnwick compare examples/tiny_attention_plan.json
  tarnwick why examples/tiny_attention_plan.json

4. Validate a broken tensor plan
  tarnwick validate examples/broken_shape.json
  Shows a debugger-style tensor shape error with the rule and fix.

Positioning: not a PyTorch replacement; a small artifact inspector with a tensor-analysis lab.
)TEXT";

}  // namespace tarnwick
