#!/usr/bin/env bash
# Checks the developer scripts without building anything: scripts/demo.sh
# builds only the programs and the suite files before the first screen,
# scripts/test.sh says which phase it is in, and the registered test names
# are readable (no dumps of parameter bytes).
#
# usage: scripts_test.sh SOURCE_DIR BUILD_DIR
set -u
source_dir=${1:?usage: scripts_test.sh SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: scripts_test.sh SOURCE_DIR BUILD_DIR}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/script_checks.sh"

# A copy of the scripts in a scratch tree whose tools only say what they
# were asked to do.
scratch_repo demo.sh test.sh
log="$work/log"
stub() {  # stub PATH: a program that logs its name and arguments
  printf '#!/usr/bin/env bash\necho "%s $*" | tee -a "%s"\n%s\n' "$(basename "$1")" "$log" "${2:-}" >"$1"
  chmod +x "$1"
}
stub "$repo/scripts/install-deps.sh"
stub "$work/bin/cmake"
stub "$work/bin/ctest" 'echo "ASAN_OPTIONS=${ASAN_OPTIONS:-}"'
stub "$repo/build/release/tools/kitdata/kitdata" '[ "$1" = init ] && touch "$2/Vora.ini"; exit 0'
stub "$repo/build/release/app/repquota"

# --- demo.sh -----------------------------------------------------------------
: >"$log"
if ! PATH="$work/bin:$PATH" "$repo/scripts/demo.sh" "$work/root" >/dev/null 2>&1; then
  fail "demo.sh did not run through: $(cat "$log")"
fi
builds=$(grep '^cmake --build' "$log")
if [[ "$builds" != "cmake --build --preset release --target repquota kitprint kitdata suite_files" ]]; then
  fail "demo.sh builds: '$builds' (only the programs and the suite files are wanted)"
fi
grep -q '^repquota' "$log" || fail "demo.sh did not start repquota"

# --- test.sh -----------------------------------------------------------------
: >"$log"
output=$(ASAN_OPTIONS=detect_leaks=0 PATH="$work/bin:$PATH" "$repo/scripts/test.sh" 2>&1)
# Each step comes after the heading of its phase.
expected=("Packages" "install-deps.sh" "Release build" "cmake --preset release" "cmake --build --preset release"
          "Release tests" "ctest --preset release" "Sanitizer build" "cmake --preset asan"
          "cmake --build --preset asan" "Sanitizer tests" "ctest --preset asan")
rest=$output
for step in "${expected[@]}"; do
  if [[ "$rest" != *"$step"* ]]; then
    fail "test.sh: '$step' missing or out of order in:"$'\n'"$output"
    break
  fi
  rest=${rest#*"$step"}
done
# The sanitizer tests check for leaks even when the caller turned that off.
if ! grep -A1 '^ctest --preset asan' <<<"$output" | grep -qE '^ASAN_OPTIONS=.*detect_leaks=1$'; then
  fail "test.sh: the sanitizer tests run without leak checking:"$'\n'"$output"
fi
headings=$(grep -c '^==== .* ====$' <<<"$output")
((headings >= 5)) || fail "test.sh printed $headings phase headings, at least 5 expected"

# --- test names ----------------------------------------------------------------
names=$(ctest --test-dir "$build_dir" -N 2>&1)
if grep -q 'byte object' <<<"$names"; then
  fail "test names with byte dumps: $(grep -m 3 'byte object' <<<"$names")"
fi
if grep -qE '^ *Test +#[0-9]+: .*/[0-9]+$' <<<"$names"; then
  fail "table tests named by number only: $(grep -m 3 -E '/[0-9]+$' <<<"$names")"
fi

# --- test labels ---------------------------------------------------------------
# Every test carries a label (the sanitizer run selects by label), and every
# case of a multi-process program is labelled "multiprocess".
labels=$(ctest --test-dir "$build_dir" --show-only=json-v1 2>/dev/null | python3 -c '
import json, sys
for test in json.load(sys.stdin)["tests"]:
    labels = [p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"]
    labels = labels[0] if labels else []
    program = " ".join(test.get("command", [])[:1])
    if not labels:
        print("without a label:", test["name"])
    elif "multiprocess_tests" in program and "multiprocess" not in labels:
        print("multi-process case without the label:", test["name"], labels)
')
[[ -z "$labels" ]] || fail "test labels: $(head -5 <<<"$labels")"

all_passed "scripts"
