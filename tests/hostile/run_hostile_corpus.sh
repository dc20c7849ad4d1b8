#!/usr/bin/env bash
# Runs every command over every file of the hostile corpus through the real binary (or of the
# kinds named after it; with `--sample N` first, over the first N files of each kind: the test
# suite drives the whole corpus in-process and this checks the process edges). Each run must end with status 0,
# or with status 1 and exactly one line beginning "error: " on standard error: never a signal,
# never a sanitizer report, never a hang (each run is limited to 60 seconds).
set -u
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
sample=0
if [ "${1:-}" = "--sample" ]; then
  sample=$2
  shift 2
fi
kinds=" ${*:-cbm lightgbm onnx pytorch safetensors gguf numpy tflite keras plan xgboost} "
wanted() { [[ $kinds == *" $1 "* ]]; }
corpus=$(cd "$(dirname "$0")" && pwd)/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # no .venv here
export VESPRINE_PYTHON=/nonexistent/python
timeout_bin=$(command -v timeout)
passed=0
failed=0

run_one() {
  local file=$1
  shift
  # No interpreter to find: the Python-backed sections take their fallback quickly.
  PATH=/nonexistent "$timeout_bin" 60 "$binary" "$@" </dev/null >"$work/out" 2>"$work/err"
  local status=$?
  local error_lines
  error_lines=$(grep -c '^error: ' "$work/err")
  local problem=""
  if [ "$status" -eq 0 ]; then
    [ ! -s "$work/err" ] || problem="status 0 with standard error"
  elif [ "$status" -eq 1 ]; then
    [ "$error_lines" -eq 1 ] && head -c 7 "$work/err" | grep -q '^error: ' || problem="status 1 without exactly one error line"
  else
    problem="status $status"
  fi
  grep -q -e 'Sanitizer' -e 'runtime error' "$work/err" && problem="sanitizer report"
  if [ -z "$problem" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL ($problem): tarnwick $*"
    head -c 600 "$work/err" | sed 's/^/     /'
  fi
}

# The files of one kind, all of them or the sample.
files_of() {
  local all=("$corpus/$1"/*)
  if [ "$sample" -gt 0 ]; then printf '%s\n' "${all[@]:0:$sample}"; else printf '%s\n' "${all[@]}"; fi
}

artifact_commands() {
  local file=$1 kind=$2
  run_one "$file" inspect "$file"
  run_one "$file" inspect --json "$file"
  run_one "$file" "$kind" --limit 3 "$file"
  run_one "$file" explain "$file"
  run_one "$file" diff "$file" "$file"
  run_one "$file" diff --json "$file" "$file"
  run_one "$file" check --max-size-growth 0 "$file" "$file"
  run_one "$file" explain-diff "$file" "$file"
  run_one "$file" scan "$file"
  run_one "$file" scan --json "$file"
  run_one "$file" contents "$file"
  run_one "$file" contents --json "$file"
  run_one "$file" diff --contents "$file" "$file"
}

wanted cbm && for file in $(files_of cbm); do artifact_commands "$file" catboost; done
wanted lightgbm && for file in $(files_of lightgbm); do artifact_commands "$file" lightgbm; done
wanted onnx && for file in $(files_of onnx); do
  artifact_commands "$file" onnx
  run_one "$file" check --max-ops-growth 0 --max-parameter-growth 0 --fail-on-new-op "$file" "$file"
  run_one "$file" profile "$file"
  run_one "$file" profile --json "$file"
  run_one "$file" profile --dim batch=3 "$file"  # refused unless the graph declares batch
done
wanted pytorch && for file in $(files_of pytorch); do artifact_commands "$file" pytorch; done
for kind in safetensors gguf numpy tflite keras; do
  wanted $kind || continue
  for file in $(files_of $kind); do
    artifact_commands "$file" contents
    run_one "$file" check --max-parameter-growth 0 --fail-on-feature-change --fail-on-training-config-change "$file" "$file"
    run_one "$file" contents --stats --json "$file"
    run_one "$file" diff --contents --values "$file" "$file"
    if [[ $kind == safetensors || $kind == gguf ]]; then
      run_one "$file" profile "$file"
      run_one "$file" profile --json --context 18446744073709551615 --batch 4294967296 --cache-dtype q4_0 "$file"
      run_one "$file" check --max-serving-memory 1GiB "$file" "$file"
    fi
  done
done
wanted xgboost && for file in $(files_of xgboost); do
  artifact_commands "$file" contents
  run_one "$file" check --fail-on-feature-change --fail-on-training-config-change "$file" "$file"
done
wanted plan && for file in $(files_of plan); do
  for command in validate trace compare why tensor-inspect explain-model quiz inspect explain; do
    run_one "$file" "$command" "$file"
  done
  run_one "$file" run --values --heatmap "$file"
  run_one "$file" bench --iters 2 "$file"
done

echo "hostile corpus (${kinds# }): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
