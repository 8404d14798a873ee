#!/usr/bin/env bash
# Builds the three programs and the suite files, makes a demo suite root under
# demo/ the first time, and starts repquota on it in this terminal, with
# kitprint as the print program. The tests and benchmarks are not built here
# (scripts/test.sh does that).
# A different root: scripts/demo.sh /path/to/root (made there when missing).
#
# scripts/demo.sh --server [ROOT] keeps the data on a PostgreSQL server of
# its own instead: a private cluster in ROOT/server, made the first time and
# filled with the root's demo records (kitdata migrate), listening only on a
# Unix socket in that folder (no TCP). It starts before repquota and stops
# when repquota ends, however it ends (an error, Ctrl+C, the terminal
# closed). As root, the server runs as the user postgres.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: $0 [--server] [ROOT]"
}
server=no
root=
for arg in "$@"; do
  case "$arg" in
    --server) server=yes ;;
    -h | --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$root" ] || { usage >&2; exit 2; }; root=$arg ;;
  esac
done

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target repquota kitprint kitdata suite_files
root="$(realpath -m "${root:-$PWD/demo}")"
kitdata=build/release/tools/kitdata/kitdata
if [ ! -e "$root/Vora.ini" ]; then
  "$kitdata" init "$root"
  "$kitdata" demo "$root"
fi
export KITROOT="$root/" KITTMP="$root/TMP/" KITEXE="$PWD/build/release/tools/kitprint/"
if [ "$server" = no ]; then
  exec build/release/app/repquota
fi

# --- the data on a private server ---------------------------------------------
# The newest server programs installed, or those in KIT_POSTGRES_BINDIR.
bindir=
for candidate in ${KIT_POSTGRES_BINDIR:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V)}; do
  [ -x "$candidate/postgres" ] && [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ] && bindir=$candidate
done
if [ -z "$bindir" ]; then
  echo "demo.sh: no PostgreSQL server programs on this machine (install postgresql-15)" >&2
  exit 1
fi
# initdb and the server refuse to run as root.
as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}
cluster="$root/server"
mkdir -p "$cluster"
[ "$(id -u)" -ne 0 ] || chown postgres "$cluster"
# A Unix socket's path has room for about a hundred bytes: a root deep down
# gets its socket in a short folder of its own.
socket_dir=$cluster
if [ "${#socket_dir}" -gt 90 ]; then
  socket_dir=$(mktemp -d /tmp/kit-demo-XXXXXX)
  [ "$(id -u)" -ne 0 ] || chown postgres "$socket_dir"
fi
if [ ! -f "$cluster/data/PG_VERSION" ]; then
  echo "demo.sh: making a PostgreSQL cluster in $cluster/data"
  rm -rf "$cluster/data" "$cluster/filled"
  as_server_user "$bindir/initdb" --no-sync -A trust -U kit -E UTF8 --locale=C -D "$cluster/data" >"$cluster/initdb.log"
fi
if as_server_user "$bindir/pg_ctl" -D "$cluster/data" status >/dev/null 2>&1; then
  echo "demo.sh: a server already runs in $cluster/data (another demo?); stop it with" >&2
  echo "  $bindir/pg_ctl -D $cluster/data stop" >&2
  exit 1
fi

stop_server() {
  as_server_user "$bindir/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null 2>&1 || true
  [ "$socket_dir" = "$cluster" ] || rm -rf "$socket_dir"
}
# Whatever ends the demo ends the server: an error, Ctrl+C, the terminal gone.
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 129' HUP
trap 'exit 143' TERM
as_server_user "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 \
  -o "-c listen_addresses='' -c unix_socket_directories='$socket_dir'" start >/dev/null
echo "demo.sh: PostgreSQL server on $socket_dir"

export KITDB="host=$socket_dir user=kit dbname=postgres" KITDB_SCHEMA=kit
if [ ! -e "$cluster/filled" ]; then
  # The demo records of the root's files, once: the server keeps its own from then on.
  "$kitdata" migrate "$root"
  touch "$cluster/filled"
fi
build/release/app/repquota
