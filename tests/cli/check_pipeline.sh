#!/usr/bin/env bash
# Drives `tarnwick check` as a build pipeline would: a gate step must fail on a grown model and
# pass on an unchanged one, with the report on stdout and one error line on stderr.
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="${TARNWICK_CORPUS:-$root/../shared/corpus}"
if [ ! -d "$corpus" ]; then
  echo "skipped: shared corpus not found at $corpus"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# gate NAME EXPECTED_STATUS ARGS...: runs the step like a CI job and checks what it leaves behind.
gate() {
  local name=$1 expected=$2
  shift 2
  "$binary" check "$@" >"$work/out" 2>"$work/err"
  local status=$?
  local problems=""
  [ "$status" -eq "$expected" ] || problems+=" status $status, expected $expected;"
  head -n 2 "$work/out" | tr '\n' '|' | grep -q '^Model Check|-----------|$' || problems+=" no report header;"
  if [ "$expected" -eq 0 ]; then
    [ ! -s "$work/err" ] || problems+=" stderr not empty;"
    tail -n 1 "$work/out" | grep -qx 'Status: PASS' || problems+=" no PASS status;"
  else
    [ "$(wc -l <"$work/err")" -eq 1 ] && grep -qx 'error: check failed' "$work/err" || problems+=" stderr is not the one error line;"
    tail -n 1 "$work/out" | grep -qx 'Status: FAIL' || problems+=" no FAIL status;"
  fi
  if [ -z "$problems" ]; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name:$problems"
    sed 's/^/     /' "$work/out" "$work/err"
  fi
}

cb="$corpus/catboost"; lg="$corpus/lightgbm"; pt="$corpus/pytorch"
gate "catboost unchanged"        0 --max-size-growth 0% --fail-on-feature-change --fail-on-training-config-change "$cb/codrna.cbm" "$cb/codrna.cbm"
gate "catboost other model"      0 --max-size-growth 5% "$cb/codrna.cbm" "$cb/creditgermany.cbm"
gate "catboost grew"             1 --max-size-growth 1% "$cb/creditgermany.cbm" "$cb/codrna.cbm"
gate "lightgbm shrank"           0 --max-size-growth 0 --fail-on-feature-change --fail-on-training-config-change "$lg/mtpl2.txt" "$lg/mtpl2_small.txt"
gate "lightgbm grew"             1 --max-size-growth 20% "$lg/mtpl2_small.txt" "$lg/mtpl2.txt"
gate "pytorch retrained"         0 --max-size-growth 10% --max-parameter-growth 0% --fail-on-feature-change "$pt/mlp.pt" "$pt/mlp_retrained.pt"
gate "pytorch wider"             1 --max-parameter-growth 30% "$pt/mlp.pt" "$pt/mlp_wider.pt"
gate "pytorch deeper names"      1 --fail-on-feature-change "$pt/mlp.pt" "$pt/mlp_deeper.pt"
gate "onnx unchanged"            0 --max-size-growth 0 --max-ops-growth 0 --max-parameter-growth 0 --fail-on-new-op "$pt/mlp.onnx" "$pt/mlp.onnx"
gate "onnx wider"                1 --max-ops-growth 25% --max-parameter-growth 30% "$pt/mlp.onnx" "$pt/mlp_wider.onnx"
gate "onnx new operators"        1 --fail-on-new-op "$pt/mlp.onnx" "$pt/encoder.onnx"

# Tensor checkpoints written by the documentation fixtures (the ONNX one needs python3-onnx,
# which these gates do not).
fx="$work/fixtures"
/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import fixtures
try: fixtures.write_all(sys.argv[2])
except ImportError: pass' "$root/scripts" "$fx"
all_rules="--max-size-growth 0 --max-parameter-growth 0 --fail-on-feature-change --fail-on-training-config-change"
gate "safetensors unchanged"     0 $all_rules "$fx/tiny.safetensors" "$fx/tiny.safetensors"
gate "safetensors shrank"        0 --max-size-growth 0 --max-parameter-growth 0 "$fx/tiny.safetensors" "$fx/tiny_v3.safetensors"
gate "safetensors grew"          1 --max-size-growth 5% "$fx/tiny.safetensors" "$fx/tiny_v2.safetensors"
gate "safetensors more params"   1 --max-parameter-growth 10% "$fx/tiny.safetensors" "$fx/tiny_v2.safetensors"
gate "safetensors names"         1 --fail-on-feature-change "$fx/tiny.safetensors" "$fx/tiny_v3.safetensors"
gate "safetensors metadata"      1 --fail-on-training-config-change "$fx/tiny.safetensors" "$fx/tiny_v3.safetensors"
gate "gguf unchanged"            0 $all_rules "$fx/tiny.gguf" "$fx/tiny.gguf"
gate "gguf grew"                 1 --max-size-growth 1% "$fx/tiny.gguf" "$fx/tiny_v2.gguf"
gate "gguf more params"          1 --max-parameter-growth 1% "$fx/tiny.gguf" "$fx/tiny_v2.gguf"
gate "gguf names"                1 --fail-on-feature-change "$fx/tiny.gguf" "$fx/tiny_v2.gguf"
gate "gguf metadata"             1 --fail-on-training-config-change "$fx/tiny.gguf" "$fx/tiny_v2.gguf"
gate "gguf shrank"               0 --max-size-growth 0 --max-parameter-growth 0 "$fx/tiny_v2.gguf" "$fx/tiny.gguf"

# A pipeline step as it is usually written: `set -e` stops at the failing gate.
if bash -c 'set -e; "$0" check --max-size-growth 20% "$1" "$2" >/dev/null 2>&1; echo reached' \
     "$binary" "$lg/mtpl2_small.txt" "$lg/mtpl2.txt" | grep -q reached; then
  failed=$((failed + 1)); echo "FAIL set -e step went on after a failing gate"
else
  passed=$((passed + 1)); echo "ok   set -e step stops at a failing gate"
fi

echo "check pipeline: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
