# What the tests of the developer scripts share; sourced, with `work` (a
# scratch directory) and `source_dir` (the project) set.

# Every check that fails is counted and said.
failures=0
fail() {  # fail DESCRIPTION
  failures=$((failures + 1))
  echo "FAIL: $*"
}

# The verdict, as the script's exit status.
all_passed() {  # all_passed WHAT
  ((failures == 0)) && echo "$1: all checks passed"
  ((failures == 0))
}

# A copy of scripts from the project in a scratch tree, $repo, with places
# for stand-ins of the built programs and $work/bin for stand-ins of the
# tools the scripts call.
scratch_repo() {  # scratch_repo SCRIPT...
  repo="$work/repo"
  mkdir -p "$repo/scripts" "$work/bin" "$repo/build/release/tools/kitdata" "$repo/build/release/app"
  local script
  for script in "$@"; do cp "$source_dir/scripts/$script" "$repo/scripts/"; done
}
