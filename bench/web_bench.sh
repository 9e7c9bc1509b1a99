#!/usr/bin/env bash
# Drives `kvaction serve` with wrk: the list page ("My actions", the first page of 50) and the
# action page (a random action of the whole table each request) of a signed-in person, on
# databases of 100,000 and 1,000,000 actions (made once, kept under build/release/webbench and
# in a PostgreSQL cluster under build/release/pg-web), on SQLite and on PostgreSQL. Builds the
# release preset, writes its section at the end of docs/benchmarks.md and prints a summary.
#   bench/web_bench.sh                 2 threads, 8 connections, 20 s per page
#   KV_WRK_DURATION=5s bench/web_bench.sh
#   KV_WEB_SIZES="100000" KV_WEB_ENGINES="sqlite" bench/web_bench.sh
# The person is u8 of the benchmark databases: about 2,000 open actions at 1,000,000 (assigned
# to or raised by u8), so the list has many pages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
out=$build/web-bench
duration=${KV_WRK_DURATION:-20s}
read -r -a sizes <<<"${KV_WEB_SIZES:-100000 1000000}"
read -r -a engines <<<"${KV_WEB_ENGINES:-sqlite postgresql}"
port=${KV_PG_PORT:-54344}
http_port=${KV_WEB_PORT:-18380}
user=u8 password=web-bench-pw
mkdir -p "$out" "$build/webbench"
export KV_BENCH_DIR=$build/webbench

command -v wrk >/dev/null || "$root/scripts/setup.sh"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target kvaction web_bench_db >"$out/build.log" 2>&1 ||
  { tail -n 40 "$out/build.log"; exit 1; }
kvaction=$build/src/cli/kvaction

# --- the PostgreSQL cluster, kept with its databases --------------------------------------------
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
pgdir=$build/pg-web
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
server_pid=""
stop_all() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  if [ -f "$pgdir/data/postmaster.pid" ]; then
    as_owner "$bindir/pg_ctl" -D "$pgdir/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
}
trap stop_all EXIT
if [[ " ${engines[*]} " == *" postgresql "* ]]; then
  mkdir -p "$pgdir"
  [ "$(id -u)" -eq 0 ] && chown postgres "$pgdir"
  if [ ! -f "$pgdir/data/PG_VERSION" ]; then
    as_owner "$bindir/initdb" -D "$pgdir/data" -U postgres --auth=trust --encoding=UTF8 \
      --locale=C.UTF-8 >"$pgdir/initdb.log" 2>&1 || { cat "$pgdir/initdb.log"; exit 1; }
  fi
  stop_all
  # Reads only: the server runs as the tests run it (fsync off).
  as_owner "$bindir/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
    -o "-k $pgdir -p $port -c listen_addresses='' -c max_connections=50 -c fsync=off" \
    start >/dev/null || { cat "$pgdir/server.log"; exit 1; }
  # The product's own role, not a superuser, as operators connect.
  KV_TEST_PG=$(KV_PG_PORT=$port "$root/scripts/pg.sh" role "$pgdir")
  export KV_TEST_PG
fi

# database ROWS ENGINE: the connection string, the database made and readied for the web once.
database() {
  local connection
  connection=$("$build/bench/web_bench_db" "$1" "$2") || exit 1
  "$kvaction" --connection "$connection" upgrade >/dev/null
  if ! printf 'secret\n' | "$kvaction" --connection "$connection" --user admin --password-stdin \
    user list | grep -qw "$user"; then
    printf 'secret\n%s\n' "$password" |
      "$kvaction" --connection "$connection" --user admin --password-stdin \
        user add "$user" --name "Una Eight" >/dev/null
  fi
  echo "$connection"
}

# serve CONNECTION: starts the server and waits until it answers.
serve() {
  "$kvaction" --connection "$1" serve --listen "127.0.0.1:$http_port" >"$out/serve.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    curl -fso /dev/null "http://127.0.0.1:$http_port/signin" && return 0
    sleep 0.2
  done
  cat "$out/serve.log"
  exit 1
}

# sign_in: prints the session cookie of $user.
sign_in() {
  local jar=$out/cookies csrf
  rm -f "$jar"
  csrf=$(curl -fs -c "$jar" "http://127.0.0.1:$http_port/signin" |
    sed -n 's/.*name="csrf" value="\([0-9a-f]*\)".*/\1/p' | head -n 1)
  curl -fs -b "$jar" -c "$jar" -o /dev/null --data-urlencode "user=$user" \
    --data-urlencode "password=$password" --data-urlencode "csrf=$csrf" \
    "http://127.0.0.1:$http_port/signin"
  awk '$6 == "kvsession" { print "kvsession=" $7 }' "$jar"
}

# cpu_ticks: the CPU time the server has used, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$server_pid/stat"; }

# drive NAME COOKIE ARGS...: one wrk run; prints "requests/s p50 p99 errors cpu-ms-per-request".
# The server's own CPU time per request does not depend on what else the machine runs.
drive() {
  local name=$1 cookie=$2 before after
  shift 2
  before=$(cpu_ticks)
  wrk -t2 -c8 -d"$duration" --latency -H "Cookie: $cookie" "$@" >"$out/$name.txt" 2>&1
  after=$(cpu_ticks)
  awk -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" '
    /requests in/ { requests = $1 }
    /Requests\/sec/ { rps = $2 }
    $1 == "50%" { p50 = $2 }
    $1 == "99%" { p99 = $2 }
    /Non-2xx or 3xx/ { errors = $5 }
    END { printf "%s %s %s %d %.2f\n", rps, p50, p99, errors, ticks * 1000 / hz / requests }
  ' "$out/$name.txt"
}

cat >"$out/action.lua" <<'LUA'
-- A random action of the whole table each request.
local rows = tonumber(os.getenv("KV_ROWS"))
math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))
request = function()
  return wrk.format(nil, "/action/" .. math.random(1, rows))
end
LUA

results=$out/results.txt
: >"$results"
for engine in "${engines[@]}"; do
  for rows in "${sizes[@]}"; do
    echo "$engine, $rows actions: preparing the database (made on first use)" >&2
    connection=$(database "$rows" "$engine")
    serve "$connection"
    cookie=$(sign_in)
    [ -n "$cookie" ] || { echo "signing in failed" >&2; exit 1; }
    # Warm the server's and the engine's caches as a running server has them.
    curl -fso /dev/null -H "Cookie: $cookie" "http://127.0.0.1:$http_port/" ||
      { echo "the list page failed" >&2; exit 1; }
    curl -fso /dev/null -H "Cookie: $cookie" "http://127.0.0.1:$http_port/action/$((rows / 2))" ||
      { echo "the action page failed" >&2; exit 1; }
    for page in list action; do
      load=$(cut -d' ' -f1 /proc/loadavg)
      if [ "$page" = list ]; then
        figures=$(drive "$engine-$rows-$page" "$cookie" "http://127.0.0.1:$http_port/")
      else
        figures=$(KV_ROWS=$rows drive "$engine-$rows-$page" "$cookie" -s "$out/action.lua" \
          "http://127.0.0.1:$http_port/")
      fi
      echo "$engine $rows $page $figures $load" | tee -a "$results" >&2
    done
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  done
done

# --- the section of docs/benchmarks.md ----------------------------------------------------------
doc=$root/docs/benchmarks.md
heading="## The web front end under load (wrk)"
section=$out/section.md
{
  echo "$heading"
  echo
  echo "Written by \`bench/web_bench.sh\` on $(date -u +%Y-%m-%d) ($(nproc) cores shared with" \
    "other work: the figures are noisy; the load average before each run is beside it)."
  echo "\`kvaction serve\` (release build) on the benchmark databases; wrk with 2 threads and" \
    "8 connections for $duration per page, a signed-in person (\`u8\`, about 2,000 open actions" \
    "at 1,000,000). List: \"My actions\", the first page of 50 rows. Action: a random action of" \
    "the whole table per request, with its history and attachments. \"Server CPU ms/request\"" \
    "is the CPU time of the \`serve\` process (user and system) divided by the requests: it does" \
    "not depend on the machine's load, and 2 cores divided by it bound the requests per second" \
    "(the PostgreSQL server's own CPU time is not in it)."
  echo
  echo "| Engine | Actions | Page | Requests/s | p50 | p99 | Errors | Server CPU ms/request |" \
    "Load average |"
  echo "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"
  while read -r engine rows page rps p50 p99 errors cpu load; do
    echo "| $engine | $rows | $page | $rps | $p50 | $p99 | $errors | $cpu | $load |"
  done <"$results"
  cat "$root/bench/web_bench_limits.md"
} >"$section"
# Everything before this script's own section, which it replaces.
kept=$out/kept.md
if [ -f "$doc" ]; then
  awk -v heading="$heading" '$0 == heading { exit } { print }' "$doc" |
    sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' >"$kept"
else
  : >"$kept"
fi
{
  cat "$kept"
  echo
  cat "$section"
} >"$doc"

echo
echo "engine rows page requests/s p50 p99 errors cpu-ms/request load"
cat "$results"
