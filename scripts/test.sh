#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# release build with all tests, then all of them again under the address
# and undefined-behaviour sanitizers (leaks included). Each phase starts
# with a heading.
set -euo pipefail
cd "$(dirname "$0")/.."
phase() { printf '\n==== %s ====\n' "$*"; }
phase "Packages"
scripts/install-deps.sh
phase "Release build"
cmake --preset release
cmake --build --preset release
phase "Release tests"
ctest --preset release
phase "Sanitizer build (address, undefined behaviour)"
cmake --preset asan
cmake --build --preset asan
phase "Sanitizer tests"
ctest --preset asan
