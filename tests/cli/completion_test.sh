#!/usr/bin/env bash
# Sources the bash completion and checks what it offers for a table of command lines, in a
# directory holding one file of each kind and a subdirectory.
set -u
export LC_ALL=C
binary=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/completion/tarnwick.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir models
touch a.onnx b.cbm c.txt d.pt e.safetensors f.gguf g.pkl h.ubj plan.json notes.md UPPER.ONNX models/m.onnx

failed=0
# expect LINE EXPECTED: completes the last word of LINE (a trailing space starts a new word)
# and compares the sorted offers with EXPECTED.
expect() {
  local line=$1 expected=$2
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _tarnwick
  local actual
  actual=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [[ $actual == "$expected" ]]; then
    echo "ok   '$line'"
  else
    echo "FAIL '$line': got '$actual', expected '$expected'"
    failed=$((failed + 1))
  fi
}

expect "tarnwick ex" "explain explain-diff explain-model"
expect "tarnwick p" "profile pt pytorch"
expect "tarnwick --v" "--version"
expect "tarnwick lg" "lgbm"
expect "tarnwick inspect --" "--deep --help --json --limit"
expect "tarnwick diff --c" "--contents"
expect "tarnwick check --fail" "--fail-on-feature-change --fail-on-new-op --fail-on-nonfinite --fail-on-training-config-change"
expect "tarnwick check --fr" "--frozen"
expect "tarnwick check --frozen " ""
expect "tarnwick contents --s" "--stats"
expect "tarnwick diff --contents --ma" "--map --match-by-content"
expect "tarnwick diff --contents --map mo" "models"
expect "tarnwick profile --d" "--dim"
expect "tarnwick scan --" "--allow --fail-on --help --json --policy --recursive --sarif"
expect "tarnwick scan -" "--allow --fail-on --help --json --policy --recursive --sarif -r"
expect "tarnwick scan --fail-on " "dangerous framework unknown"
expect "tarnwick scan --fail-on d" "dangerous"
expect "tarnwick scan --allow " ""
expect "tarnwick scan --sarif " "models plan.json"
expect "tarnwick scan --policy n" "notes.md"
expect "tarnwick onnx " "UPPER.ONNX a.onnx models"
expect "tarnwick onnx models/" "models/m.onnx"
expect "tarnwick cbm " "b.cbm models"
expect "tarnwick inspect " "UPPER.ONNX a.onnx b.cbm c.txt d.pt e.safetensors f.gguf h.ubj models plan.json"
expect "tarnwick check a.onnx " "UPPER.ONNX a.onnx b.cbm c.txt d.pt e.safetensors f.gguf h.ubj models plan.json"
expect "tarnwick diff --contents a.onnx " "UPPER.ONNX a.onnx b.cbm c.txt d.pt e.safetensors f.gguf h.ubj models plan.json"
expect "tarnwick scan " "UPPER.ONNX a.onnx d.pt e.safetensors f.gguf g.pkl models"
expect "tarnwick trace " "models plan.json"
expect "tarnwick inspect --limit " ""
expect "tarnwick explain att" "attention"
expect "tarnwick demo " "attention"
expect "tarnwick version " ""
expect "tarnwick check --j" "--json"
expect "tarnwick trace --" "--help"
expect "tarnwick version -" "--help"
expect "tarnwick help sc" "scan"
expect "tarnwick help ex" "explain explain-diff explain-model"
expect "tarnwick help scan " ""

# The offered command words are exactly the words the program dispatches.
offered=" $_tarnwick_commands --help --version "
offered=${offered//$'\n'/ }
# Each table entry opens with {"word", {"alias", ...}, handler.
table_words=$(grep -oE '^ *\{"[^"]+", \{[^}]*\}, [a-z_]+_command' "$root/src/cli/command_table.cpp" |
  grep -oE '"[^"]+"' | tr -d '"')
[ "$(echo "$table_words" | wc -w)" -ge 30 ] || { echo "FAIL the command table's words were not found"; failed=$((failed + 1)); }
for word in $table_words; do
  [[ $offered == *" $word "* ]] || { echo "FAIL command word '$word' is not offered"; failed=$((failed + 1)); }
done
for word in $offered; do
  if "$binary" "$word" --not-a-path-either </dev/null 2>&1 >/dev/null | grep -q 'unknown command'; then
    echo "FAIL offered word '$word' is not a command"
    failed=$((failed + 1))
  fi
done

echo "completion: $failed failed"
[ "$failed" -eq 0 ]
