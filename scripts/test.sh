#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# release build with all tests, then all of them again under the address
# and undefined-behaviour sanitizers (leaks included).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
ctest --preset release
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
