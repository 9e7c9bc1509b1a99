#!/usr/bin/env bash
# Measures the library against the raw drivers: builds the release preset, makes the 10,000- and
# 1,000,000-action databases once (kept under build/release), runs every benchmark on SQLite and
# on two private PostgreSQL servers (fsync off, as the tests run it, and durable: fsync and
# synchronous commit on), writes docs/benchmarks.md, and prints as its last two lines the worst
# ratio and the peak memory of the 1,000,000-row list.
#   scripts/bench.sh            five repetitions of each benchmark
#   scripts/bench.sh --quick    shorter ones, the writes each a fixed, smaller count of actions
#                               (under 10 minutes on 2 cores once the databases exist and the
#                               release build is up to date)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1
cd "$root"
build=$root/build/release
out=$build/bench-out
mkdir -p "$out" "$build/benchdb"
export KV_BENCH_DIR=$build/benchdb

cmake --preset release >/dev/null
cmake --build --preset release --target writes_bench reads_bench list_memory >"$out/build.log" 2>&1 \
  || { tail -n 40 "$out/build.log"; exit 1; }

# Everything but the eight writers runs on one core, the servers too: a round trip then never
# waits for an idle core to wake up, which on a virtual machine moved PostgreSQL figures by ±40 %
# with where the scheduler put each server process. $cores is what the programs and servers
# started next run under.
one_core="taskset -c $(($(nproc) - 1))"
cores=$one_core

# --- the two PostgreSQL servers, kept with their databases under build/release ----------------
port=${KV_PG_PORT:-54343}
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
# start_server NAME OPTIONS...: the cluster build/release/pg-NAME on its own Unix socket; prints
# the connection string of the product's own role (not a superuser), as operators connect.
start_server() {
  local dir=$build/pg-$1
  shift
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bindir/initdb" -D "$dir/data" -U postgres --auth=trust --encoding=UTF8 \
      --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log"; exit 1; }
  fi
  as_owner $cores "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-k $dir -p $port -c listen_addresses='' -c max_connections=50 $*" start >/dev/null \
    || { cat "$dir/server.log"; exit 1; }
  KV_PG_PORT=$port "$root/scripts/pg.sh" role "$dir"
}
stop_servers() {
  for name in fast durable; do
    if [ -f "$build/pg-$name/data/postmaster.pid" ]; then
      as_owner "$bindir/pg_ctl" -D "$build/pg-$name/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
  done
}
start_servers() {
  stop_servers
  fast=$(start_server fast -c fsync=off -c synchronous_commit=off -c full_page_writes=off)
  durable=$(start_server durable -c fsync=on -c synchronous_commit=on -c full_page_writes=on)
}
trap stop_servers EXIT
start_servers

# Five repetitions, so that a median stands two disturbed ones. Quick runs are shorter: the
# writes each a fixed, smaller count of actions.
# Each iteration of a paired benchmark is a turn of each side, about five milliseconds each.
reps=5
if [ "$quick" -eq 1 ]; then
  min=0.1
  export KV_BENCH_QUICK=1
else
  min=0.5
fi
# run NAME PROGRAM REPETITIONS ARGS...: JSON into $out/NAME.json, console into NAME.txt.
run() {
  local name=$1 program=$2 repetitions=$3
  shift 3
  $cores "$build/bench/$program" --benchmark_repetitions=$repetitions --benchmark_min_time=$min \
    --benchmark_enable_random_interleaving=true --benchmark_out_format=json \
    --benchmark_out="$out/$name.json" "$@" >"$out/$name.txt" 2>&1 \
    || { tail -n 5 "$out/$name.txt" >&2; echo "$name failed" >&2; exit 1; }
}

echo "reads (10,000 and 1,000,000 actions; the databases are made on first use)" >&2
KV_TEST_PG=$fast run reads reads_bench "$reps"
echo "writes, PostgreSQL fsync off" >&2
KV_TEST_PG=$fast run writes-fast writes_bench "$reps" --benchmark_filter=paired
echo "writes, PostgreSQL durable" >&2
KV_TEST_PG=$durable run writes-durable writes_bench "$reps" --benchmark_filter=paired/PostgreSQL
echo "1,000,000-row list, one process each" >&2
: >"$out/memory.txt"
for engine in sqlite postgresql; do
  for side in library raw; do
    result=$(KV_TEST_PG=$fast $cores "$build/bench/list_memory" "$side" "$engine")
    echo "$side $engine $result" >>"$out/memory.txt"
  done
done

# The eight concurrent writers, and their servers, on every core: on one core a writer that holds
# SQLite's lock is preempted by the others, which then sleep in the busy handler, and eight
# server processes share the one core.
echo "eight writers" >&2
cores=""
start_servers
KV_TEST_PG=$fast run writers-fast writes_bench "$reps" --benchmark_filter=writers
KV_TEST_PG=$durable run writers-durable writes_bench "$reps" --benchmark_filter=writers.*PostgreSQL

python3 "$root/bench/report.py" --out "$root/docs/benchmarks.md" --quick "$quick" \
  --load "$(cut -d' ' -f1-3 /proc/loadavg)" "$out"
