#!/usr/bin/env bash
# Runs ctest in a build folder (further arguments go to ctest). Outside CI a check whose corpus,
# Python module or npm oracle is missing reports "skipped" with what is missing; under CI=true
# such a skip fails the run, naming each check and what it lacked, so that a green run means
# every cross-check ran.
set -uo pipefail
dir=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest --test-dir "$dir" --output-on-failure "$@" | tee "$log"
status=${PIPESTATUS[0]}
skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
if [ -n "$skipped" ] && [ "${CI:-}" = "true" ]; then
  echo "error: under CI every cross-check must run, and these were skipped:"
  while IFS= read -r name; do
    pattern=$(printf '%s' "$name" | sed 's/[][\.*^$()+?{}|]/\\&/g')
    reason=$(ctest --test-dir "$dir" -R "^${pattern}\$" -V 2>&1 | grep -m1 -iE "skipped:|not found|not installed" |
             sed -e 's/^[0-9]*: //' -e 's/^.*Skipped: *//')
    echo "  $name: ${reason:-no reason printed}"
  done <<< "$skipped"
  status=1
fi
exit "$status"
