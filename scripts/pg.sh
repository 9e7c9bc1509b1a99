#!/usr/bin/env bash
# A private PostgreSQL server for the tests: `pg.sh start DIR` creates a cluster in DIR (initdb as
# an unprivileged user), starts it on a Unix socket in DIR and prints the connection string;
# `pg.sh stop DIR` stops it and removes DIR. The string printed logs in as the role kvaction: it
# owns its database kvaction and the databases it creates (CREATEDB, for the tests' fresh
# databases; pg_signal_backend, so that dropping one WITH (FORCE) may end the server's own
# background sessions in it) and is not a superuser, so it reads no server files.
# `pg.sh restart DIR` restarts the server in DIR, ending every session its clients hold.
# `pg.sh role DIR` readies a server already running on the socket in DIR (the benchmark scripts
# keep clusters of their own) the same way: it creates the role kvaction and its database when
# they are missing, drops the benchmark databases (kvbench…) that an earlier run made as another
# role, which the role could not read (they are made again on first use), and prints the
# connection string.
set -euo pipefail
usage="usage: pg.sh start|restart|stop|role DIR"
cmd=${1:?$usage}
dir=${2:?$usage}
port=${KV_PG_PORT:-54329}
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
psql_admin() {
  as_owner "$bindir/psql" -h "$dir" -p "$port" -U postgres -d postgres -qAt -v ON_ERROR_STOP=1 "$@"
}
# The role the tests and benchmarks connect as, with its database; prints the connection string.
make_role() {
  if [ -z "$(psql_admin -c "SELECT 1 FROM pg_roles WHERE rolname = 'kvaction'")" ]; then
    psql_admin -c "CREATE ROLE kvaction LOGIN CREATEDB NOSUPERUSER NOCREATEROLE NOREPLICATION" \
      -c "GRANT pg_signal_backend TO kvaction" >/dev/null
  fi
  if [ -z "$(psql_admin -c "SELECT 1 FROM pg_database WHERE datname = 'kvaction'")" ]; then
    psql_admin -c "CREATE DATABASE kvaction OWNER kvaction" >/dev/null
  fi
  local stale
  stale=$(psql_admin -c "SELECT datname FROM pg_database WHERE datname LIKE 'kvbench%'
    AND datdba <> (SELECT oid FROM pg_roles WHERE rolname = 'kvaction')")
  for name in $stale; do
    echo "pg.sh: dropping $name, made as another role; it is made again as kvaction" >&2
    psql_admin -c "DROP DATABASE \"$name\" WITH (FORCE)" >/dev/null
  done
  echo "Provider=PostgreSQL;Host=$dir;Port=$port;Database=kvaction;User ID=kvaction"
}
case "$cmd" in
  start)
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    as_owner "$bindir/initdb" -D "$dir/data" -U postgres --auth=trust --no-sync --encoding=UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log"; exit 1; }
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-k $dir -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" start >/dev/null \
      || { cat "$dir/server.log"; exit 1; }
    make_role
    ;;
  role)
    make_role
    ;;
  restart)
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m fast -w restart >/dev/null \
      || { cat "$dir/server.log"; exit 1; }
    ;;
  stop)
    if [ -d "$dir/data" ]; then
      as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
