#!/usr/bin/env bash
# Fuzzes the file readers: scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Runs each fuzz target of build/fuzz (cmake --preset fuzz; cmake --build
# --preset fuzz) for SECONDS (default 20), all targets unless some are named.
# The seeds in fuzz/corpus/<target> are read, never written: new inputs go to
# build/fuzz/corpus/<target>, and an input that crashes, leaks, hangs (10 s)
# or takes more than 2 GB is kept as build/fuzz/artifacts/<target>-*. Any of
# those fails the script; its log is printed.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi
mkdir -p build/fuzz/artifacts build/fuzz/logs
failed=()
for target in "${targets[@]}"; do
  program="build/fuzz/fuzz/fuzz_$target"
  if [ ! -x "$program" ]; then
    echo "fuzz: $program is not built (cmake --build --preset fuzz)" >&2
    failed+=("$target")
    continue
  fi
  mkdir -p "build/fuzz/corpus/$target"
  log="build/fuzz/logs/$target.log"
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/artifacts/$target-" \
      "build/fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $target: ${runs:-?} runs in ${seconds} s, nothing found"
  else
    echo "fuzz $target: FAILED, input kept in build/fuzz/artifacts/$target-*" >&2
    tail -n 60 "$log" >&2
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
