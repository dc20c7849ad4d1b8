#!/usr/bin/env bash
# GGUF files written by the test, and the real ones of the shared corpus, against @huggingface/gguf, installed with npm beside the build
# (an ignored folder); 77 means skipped (no node, or npm cannot reach its registry).
set -u
binary=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
oracle_dir="$(cd "$(dirname "$binary")" && pwd)/node_oracle"
package="$oracle_dir/node_modules/@huggingface/gguf/dist/index.mjs"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "skipped: node and npm are not installed (make deps installs them)"
  exit 77
fi
if [ ! -f "$package" ]; then
  mkdir -p "$oracle_dir"
  if ! npm install --prefix "$oracle_dir" --no-audit --no-fund --silent @huggingface/gguf >/dev/null 2>&1; then
    echo "skipped: npm could not install @huggingface/gguf"
    exit 77
  fi
fi
exec /usr/bin/python3 "$root/tests/gguf/gguf_oracle.py" "$binary" "$package" "${TARNWICK_CORPUS:-$root/../shared/corpus}"
