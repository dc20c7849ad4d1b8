#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (FUZZ_SECONDS, default
# 60), seeded from ../shared/corpus and the committed hostile corpus. Findings land in
# build-fuzz/findings/<reader>/; each target's last stats line is printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$root/build-fuzz" -j "${JOBS:-2}"
corpus="$root/../shared/corpus"
hostile="$root/tests/hostile/corpus"
declare -A seeds=(
  [cbm]="$corpus/catboost $hostile/cbm"
  [cbm_core]="$corpus/catboost $hostile/cbm"
  [lightgbm]="$corpus/lightgbm $hostile/lightgbm"
  [onnx]="$corpus/onnx $hostile/onnx"
  [pytorch]="$corpus/pytorch $hostile/pytorch"
  [plan]="$root/examples $hostile/plan"
  [numpy]="$hostile/numpy"
  [tflite]="$corpus/realworld/tflite $hostile/tflite"
  [keras]="$hostile/keras"
  [xgboost]="$hostile/xgboost"
)
for reader in ${FUZZ_READERS:-cbm cbm_core lightgbm onnx pytorch plan numpy tflite keras xgboost}; do
  work="$root/build-fuzz/work/$reader"
  findings="$root/build-fuzz/findings/$reader"
  mkdir -p "$work" "$findings"
  dirs=()
  for d in ${seeds[$reader]}; do [ -d "$d" ] && dirs+=("$d"); done
  echo "== fuzz_$reader for ${seconds}s (seeds: ${dirs[*]:-none})"
  "$root/build-fuzz/fuzz_$reader" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=1048576 -artifact_prefix="$findings/" -print_final_stats=1 "$work" "${dirs[@]}" \
    >"$root/build-fuzz/fuzz_$reader.log" 2>&1 || echo "fuzz_$reader stopped with a finding: see $findings"
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs|ERROR" "$root/build-fuzz/fuzz_$reader.log" | tail -3
done
