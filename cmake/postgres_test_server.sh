#!/usr/bin/env bash
# A private PostgreSQL server for the tests that run on the server storage.
#
#   postgres_test_server.sh start DIR   a fresh cluster in DIR, listening only
#                                        on a Unix socket in DIR
#   postgres_test_server.sh stop DIR    stops it and removes DIR
#
# Tests reach it with KITDB="host=DIR user=postgres dbname=postgres". When
# the server programs are missing, start writes the reason to DIR/unavailable
# and succeeds: the tests then report themselves skipped with that reason.
# initdb and the server refuse to run as root; as root they run as the
# user postgres.
set -euo pipefail

action=${1:-}
dir=${2:-}
if [ -z "$action" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi

# The newest server programs installed, or those in KIT_POSTGRES_BINDIR.
bindir=
for candidate in ${KIT_POSTGRES_BINDIR:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V)}; do
  [ -x "$candidate/postgres" ] && [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ] && bindir=$candidate
done

as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

stop_server() {
  if [ -n "$bindir" ] && [ -f "$dir/data/postmaster.pid" ]; then
    as_server_user "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
}

case "$action" in
  start)
    stop_server
    rm -rf "$dir"
    mkdir -p "$dir"
    if [ -z "$bindir" ]; then
      echo "no PostgreSQL server programs on this machine (install postgresql-15)" | tee "$dir/unavailable"
      exit 0
    fi
    if [ "$(id -u)" -eq 0 ]; then
      if ! id postgres >/dev/null 2>&1; then
        echo "no user postgres to run the server as" | tee "$dir/unavailable"
        exit 0
      fi
      chown postgres "$dir"
    fi
    as_server_user "$bindir/initdb" -A trust --no-sync -U postgres -E UTF8 --locale=C -D "$dir/data" >"$dir/initdb.log"
    as_server_user "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c full_page_writes=off -c max_connections=200" \
      start >/dev/null
    echo "PostgreSQL test server in $dir"
    ;;
  stop)
    stop_server
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
