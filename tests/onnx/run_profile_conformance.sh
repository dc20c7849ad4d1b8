#!/usr/bin/env bash
# Runs the shape-propagation cross-check against onnx's shape inference; 77 means skipped.
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$root/../shared/corpus"
if [ ! -d "$corpus/onnx" ]; then
  echo "skipped: shared corpus not found at $corpus"
  exit 77
fi
if ! /usr/bin/python3 -c 'import onnx' 2>/dev/null; then
  echo "skipped: Debian's python3-onnx is not installed (make deps installs it)"
  exit 77
fi
exec /usr/bin/python3 "$root/tests/onnx/profile_conformance.py" "$binary" "$corpus"/onnx/*.onnx "$corpus"/pytorch/*.onnx
