#!/usr/bin/env bash
# Runs the torch.load cross-check of the tensor table over the shared PyTorch checkpoints; 77 means skipped.
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$root/../shared/corpus/pytorch"
if [ ! -d "$corpus" ]; then
  echo "skipped: shared corpus not found at $corpus"
  exit 77
fi
if ! /usr/bin/python3 -c 'import torch' 2>/dev/null; then
  echo "skipped: python3-torch is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
exec /usr/bin/python3 "$root/tests/pt/tensor_conformance.py" "$binary" \
  "$corpus"/*.pt "$corpus"/*.pth "$corpus"/*.bin "$corpus"/*.ckpt
