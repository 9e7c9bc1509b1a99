#!/usr/bin/env bash
# The command through a server against the same command on the database, on loopback, with the
# sign-in kept both ways (`kvaction login`): the 1,000,000-action SQLite database of the web
# benchmark (bench/web_bench_db, kept under build/release/webbench), one `kvaction serve` on it.
#   bench/remote_bench.sh                 31 runs of each command, in turn
#   KV_REMOTE_RUNS=51 KV_REMOTE_ROWS=100000 bench/remote_bench.sh
# Prints, for each command, the whole process's wall time (min, median, max) locally and through
# the server and the median of the pairwise differences; then the peak memory (maximum resident
# set, /usr/bin/time -v) of a list of every open action (about 1,000,000 rows: the database's
# actions are nearly all open) locally and through the server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
out=$build/remote-bench
runs=${KV_REMOTE_RUNS:-31}
rows=${KV_REMOTE_ROWS:-1000000}
http_port=${KV_REMOTE_PORT:-18390}
mkdir -p "$out" "$build/webbench"
export KV_BENCH_DIR=$build/webbench
# The sessions `kvaction login` keeps, apart from the person's own.
export XDG_CONFIG_HOME=$out/config
unset KVACTION_DB KVACTION_CONNECTION KVACTION_SERVER KVACTION_USER

cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target kvaction web_bench_db >"$out/build.log" 2>&1 ||
  { tail -n 40 "$out/build.log"; exit 1; }
kvaction=$build/src/cli/kvaction

# shellcheck source=bench/web_bench_lib.sh
. "$root/bench/web_bench_lib.sh"
connection=$(database "$rows" sqlite)

"$kvaction" --connection "$connection" serve --listen "127.0.0.1:$http_port" \
  >"$out/serve.log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null; wait $server_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  curl -fso /dev/null "http://127.0.0.1:$http_port/signin" && break
  sleep 0.2
done
server=http://127.0.0.1:$http_port

printf '%s\n' "$password" |
  "$kvaction" --connection "$connection" --user "$user" --password-stdin login >/dev/null
printf '%s\n' "$password" |
  "$kvaction" --server "$server" --user "$user" --password-stdin login >/dev/null

# Each command once locally and once through the server, in turn, runs times: pairing keeps the
# difference meaningful when the machine's speed drifts.
python3 - "$runs" "$kvaction" "$connection" "$server" <<'EOF'
import statistics, subprocess, sys, time
runs, kvaction, connection, server = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
commands = [["info"], ["show", "12345"], ["alerts"], ["list", "--mine", "--limit", "20"]]

def run(args):
    start = time.perf_counter()
    done = subprocess.run([kvaction] + args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    took = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{' '.join(args)}: {done.stderr.decode()}")
    return took * 1000

print(f"{'command':28} {'local ms (min/med/max)':>24} {'remote ms (min/med/max)':>25} "
      f"{'overhead ms (median)':>21}")
for command in commands:
    local, remote = [], []
    for i in range(runs + 1):
        a = run(["--connection", connection] + command)
        b = run(["--server", server] + command)
        if i:  # the first pair warms the caches
            local.append(a)
            remote.append(b)
    spread = lambda xs: f"{min(xs):.1f}/{statistics.median(xs):.1f}/{max(xs):.1f}"
    overhead = statistics.median(b - a for a, b in zip(local, remote))
    print(f"{' '.join(command):28} {spread(local):>24} {spread(remote):>25} {overhead:>21.1f}")
EOF

# peak NAME ARGS...: the maximum resident set of one run, in MiB, and the rows it printed.
peak() {
  local name=$1
  shift
  /usr/bin/time -v -o "$out/$name.time" "$kvaction" "$@" list --status active --csv \
    --columns ActionNumber,Subject,DateDue >"$out/$name.csv"
  awk -v name="$name" -v rows="$(($(wc -l <"$out/$name.csv") - 1))" \
    '/Maximum resident set size/ { printf "%-8s list --status active: %d rows, %.1f MiB peak\n", name, rows, $6 / 1024 }
     /Elapsed \(wall clock\)/ { print "         wall " $8 }' "$out/$name.time"
}
peak local --connection "$connection"
peak remote --server "$server"
