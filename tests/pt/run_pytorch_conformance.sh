#!/usr/bin/env bash
# Runs the zipfile / stub-unpickler cross-check over the shared PyTorch checkpoints; 77 means skipped.
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$root/../shared/corpus/pytorch"
if [ ! -d "$corpus" ]; then
  echo "skipped: shared corpus not found at $corpus"
  exit 77
fi
exec /usr/bin/python3 "$root/tests/pt/pytorch_conformance.py" "$binary" \
  "$corpus"/*.pt "$corpus"/*.pth "$corpus"/*.bin "$corpus"/*.ckpt
