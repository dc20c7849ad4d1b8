#!/usr/bin/env bash
# Runs one Python cross-check over a file set of the shared corpus; 77 means skipped.
# usage: run_corpus_check.sh <tarnwick> <python module the check needs, or -> <script under tests/> <onnx|onnx-realworld|realworld-onnx|realworld-safetensors|pytorch>
set -u
binary=$1 module=$2 script=$3 set=$4
root=$(cd "$(dirname "$0")/.." && pwd)
corpus="${TARNWICK_CORPUS:-$root/../shared/corpus}"
if [ ! -d "$corpus/${set%%-*}" ]; then
  echo "skipped: shared corpus not found at $corpus/${set%%-*}"
  exit 77
fi
if [ "$module" != "-" ] && ! /usr/bin/python3 -c "import $module" 2>/dev/null; then
  echo "skipped: Debian's python3-$module is not installed (make deps installs it)"
  exit 77
fi
case "$set" in
  onnx) files=("$corpus"/onnx/*.onnx "$corpus"/pytorch/*.onnx) ;;
  onnx-realworld) files=("$corpus"/onnx/*.onnx "$corpus"/pytorch/*.onnx "$corpus"/realworld/*.onnx) ;;
  realworld-onnx) files=("$corpus"/realworld/*.onnx) ;;
  realworld-safetensors) files=("$corpus"/realworld/*.safetensors "$corpus"/realworld/safetensors-samples/*.safetensors) ;;
  pytorch) files=("$corpus"/pytorch/*.pt "$corpus"/pytorch/*.pth "$corpus"/pytorch/*.bin "$corpus"/pytorch/*.ckpt) ;;
  *) echo "unknown corpus set: $set"; exit 2 ;;
esac
exec /usr/bin/python3 "$root/tests/$script" "$binary" "${files[@]}"
