#!/usr/bin/env bash
# Builds the three programs and the suite files, makes a demo suite root under
# demo/ the first time, and starts repquota on it in this terminal, with
# kitprint as the print program. The tests and benchmarks are not built here
# (scripts/test.sh does that).
# A different root: scripts/demo.sh /path/to/root (made there when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target repquota kitprint kitdata suite_files
root="${1:-$PWD/demo}"
root="$(realpath -m "$root")"
if [ ! -e "$root/Vora.ini" ]; then
  build/release/tools/kitdata/kitdata init "$root"
  build/release/tools/kitdata/kitdata demo "$root"
fi
export KITROOT="$root/" KITTMP="$root/TMP/" KITEXE="$PWD/build/release/tools/kitprint/"
exec build/release/app/repquota
