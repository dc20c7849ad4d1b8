#!/usr/bin/env bash
# PyTorch checkpoints of the shared corpus against safetensors copies of their tensors; 77 means skipped.
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$root/../shared/corpus/pytorch"
if [ ! -d "$corpus" ]; then
  echo "skipped: shared corpus not found at $corpus"
  exit 77
fi
if ! /usr/bin/python3 -c 'import torch' 2>/dev/null; then
  echo "skipped: Debian's python3-torch is not installed (make deps installs it)"
  exit 77
fi
exec /usr/bin/python3 "$root/tests/pt/pytorch_safetensors_cross.py" "$binary" \
  "$corpus"/*.pt "$corpus"/*.pth "$corpus"/*.bin "$corpus"/*.ckpt
