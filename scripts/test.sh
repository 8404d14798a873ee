#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# release build with all tests, then all of them again under the address
# and undefined-behaviour sanitizers (leaks included). Each phase starts
# with a heading.
set -euo pipefail
cd "$(dirname "$0")/.."
phase() { printf '\n==== %s ====\n' "$*"; }
# Ninja runs as many compile jobs as the machine has cores; KIT_BUILD_JOBS
# caps them on a machine shared with other work. The presets treat warnings
# as errors.
jobs=()
[ -n "${KIT_BUILD_JOBS:-}" ] && jobs=(--parallel "$KIT_BUILD_JOBS")
phase "Packages"
scripts/install-deps.sh
phase "Release build"
cmake --preset release
cmake --build --preset release "${jobs[@]}"
phase "Release tests"
ctest --preset release
phase "Sanitizer build (address, undefined behaviour)"
cmake --preset asan
cmake --build --preset asan "${jobs[@]}"
phase "Sanitizer tests"
# Leak checking is the default on Linux; say so, whatever the caller's
# ASAN_OPTIONS turned off (the later setting wins).
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1" ctest --preset asan

phase "Fuzzing (seeds, then about 20 s per reader)"
# Every reader of bytes from a file (INI, catalogue, form file, key
# script, print file, dictionary source, CSV import, lock files, window stack,
# look-up cache, calculator state, record manager) under libFuzzer and the
# sanitizers, about 20 s each; the seeds are replayed first. Any crash, leak
# or hang fails the run.
cmake --preset fuzz
cmake --build --preset fuzz "${jobs[@]}"
ctest --preset fuzz
scripts/fuzz.sh 20
