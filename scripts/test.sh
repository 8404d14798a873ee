#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# release build with all tests, then the unit tests under the address and
# undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
ctest --preset release
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

# Fuzzing: every reader of bytes from a file (INI, catalogue, form file, key
# script, print file, dictionary source, CSV import, lock files, window stack,
# look-up cache, calculator state, record manager) under libFuzzer and the
# sanitizers, about 20 s each; the seeds are replayed first. Any crash, leak
# or hang fails the run.
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz
scripts/fuzz.sh 20
