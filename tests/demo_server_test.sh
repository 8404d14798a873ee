#!/usr/bin/env bash
# scripts/demo.sh --server with a real PostgreSQL server: it makes a private
# cluster in the root, fills it with the demo records, runs the module with
# KITDB pointing at it, and stops the server when the module ends, also when
# the module fails or the demo is told to stop. The build is left out (cmake
# only says what it was asked) and the module is a stand-in that reads the
# owners from the server.
#
# usage: demo_server_test.sh SOURCE_DIR KITDATA
# Exits 77 (skipped) on a machine without the server programs.
set -u
source_dir=${1:?usage: demo_server_test.sh SOURCE_DIR KITDATA}
kitdata=$(realpath "${2:?usage: demo_server_test.sh SOURCE_DIR KITDATA}")

bindir=
for candidate in ${KIT_POSTGRES_BINDIR:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V)}; do
  [ -x "$candidate/postgres" ] && [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ] && bindir=$candidate
done
if [ -z "$bindir" ]; then
  echo "skipped: no PostgreSQL server programs on this machine (install postgresql-15)"
  exit 77
fi

work=$(mktemp -d /tmp/kit-demo-test-XXXXXX)
# The server runs as the user postgres when this runs as root: it must reach the root.
chmod 755 "$work"
cleanup() {
  if [ -f "$work/root/server/data/postmaster.pid" ]; then
    if [ "$(id -u)" -eq 0 ]; then
      runuser -u postgres -- "$bindir/pg_ctl" -D "$work/root/server/data" -m immediate stop >/dev/null 2>&1
    else
      "$bindir/pg_ctl" -D "$work/root/server/data" -m immediate stop >/dev/null 2>&1
    fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/script_checks.sh"

scratch_repo demo.sh
printf '#!/bin/sh\nexit 0\n' >"$repo/scripts/install-deps.sh"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/cmake"
chmod +x "$repo/scripts/install-deps.sh" "$work/bin/cmake"
ln -s "$kitdata" "$repo/build/release/tools/kitdata/kitdata"
# The module's stand-in: notes what it was given and what the server holds,
# then ends as DEMO_END says (ok, fail, or a TERM to the demo as from a
# window closed).
cat >"$repo/build/release/app/repquota" <<EOF
#!/usr/bin/env bash
echo "\$KITDB" >"$work/kitdb"
"$kitdata" get "\${KITROOT}DADES/PropietH" >"$work/owners.server" 2>"$work/owners.err"
case "\${DEMO_END:-ok}" in
  fail) exit 1 ;;
  term) kill -TERM \$PPID; exit 0 ;;
esac
EOF
chmod +x "$repo/build/release/app/repquota"

root="$work/root"
server_runs() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$bindir/pg_ctl" -D "$root/server/data" status >/dev/null 2>&1
  else
    "$bindir/pg_ctl" -D "$root/server/data" status >/dev/null 2>&1
  fi
}

# --- the first run makes, fills and stops the server ---------------------------
PATH="$work/bin:$PATH" "$repo/scripts/demo.sh" --server "$root" >"$work/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "demo.sh --server ended with $status: $(cat "$work/out")"
[ "$(cat "$work/kitdb" 2>/dev/null)" = "host=$root/server user=kit dbname=postgres" ] ||
  fail "the module got KITDB='$(cat "$work/kitdb" 2>/dev/null)'"
grep -q "PropietH.dat: 14 records" "$work/out" || fail "no count of the owners copied: $(cat "$work/out")"
KITDB= "$kitdata" get "$root/DADES/PropietH" >"$work/owners.files"
if [ ! -s "$work/owners.server" ] || ! cmp -s "$work/owners.server" "$work/owners.files"; then
  fail "the module did not find the demo owners on the server: $(cat "$work/owners.err")"
fi
server_runs && fail "the server still runs after the module ended"
[ -e "$root/server/.s.PGSQL.5432" ] && fail "the server's socket is left behind"
grep -q "listen_addresses" "$root/server/data/postmaster.opts" 2>/dev/null ||
  fail "the server was not started without TCP: $(cat "$root/server/data/postmaster.opts" 2>/dev/null)"

# --- a module that fails: the server stops all the same ------------------------
rm -f "$work/owners.server"
DEMO_END=fail PATH="$work/bin:$PATH" "$repo/scripts/demo.sh" --server "$root" >"$work/out" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "a failing module: demo.sh ended with $status"
grep -q "records" "$work/out" && fail "the second run copied the demo records again: $(cat "$work/out")"
cmp -s "$work/owners.server" "$work/owners.files" || fail "the second run found no owners on the server"
server_runs && fail "the server still runs after the module failed"

# --- the demo told to stop -------------------------------------------------------
DEMO_END=term PATH="$work/bin:$PATH" "$repo/scripts/demo.sh" --server "$root" >"$work/out" 2>&1
status=$?
[ "$status" -eq 143 ] || fail "a demo told to stop ended with $status"
server_runs && fail "the server still runs after the demo was told to stop"

all_passed "demo.sh --server"
