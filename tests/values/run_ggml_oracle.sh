#!/usr/bin/env bash
# GGUF statistics against ggml's own quantizer and dequantizer, from the shared libraries that
# the npm package @node-llama-cpp/linux-x64 ships, installed with npm beside the build (an
# ignored folder); 77 means skipped (no node or npm, npm cannot reach its registry, not x86-64).
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
oracle_dir="$(cd "$(dirname "$binary")" && pwd)/ggml_oracle"
library="$oracle_dir/node_modules/@node-llama-cpp/linux-x64/bins/linux-x64/libggml-base.so"
if [ "$(uname -m)" != x86_64 ]; then
  echo "skipped: the ggml oracle ships for x86-64 Linux only"
  exit 77
fi
if ! command -v npm >/dev/null; then
  echo "skipped: npm is not installed (make deps installs it)"
  exit 77
fi
if [ ! -f "$library" ]; then
  mkdir -p "$oracle_dir"
  if ! npm install --prefix "$oracle_dir" --no-audit --no-fund --silent --ignore-scripts \
      @node-llama-cpp/linux-x64 >/dev/null 2>&1 || [ ! -f "$library" ]; then
    echo "skipped: npm could not install @node-llama-cpp/linux-x64"
    exit 77
  fi
fi
exec /usr/bin/python3 "$root/tests/values/ggml_oracle.py" "$binary" "$library"
