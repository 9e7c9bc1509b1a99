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
# Two more parts (KV_WEB_PARTS, default "pages held multi"), at the first size only:
#   held   the sign-in and list pages while 1,000 idle connections and 50 that trickle one header
#          byte a second are held open (KV_WEB_IDLE, KV_WEB_TRICKLE), on the first engine;
#   multi  a mixed load (80 % list and action pages, 20 % edits through the API) on PostgreSQL,
#          once on one process and once on three behind nginx with TLS (deploy/nginx-kvaction.conf),
#          with the CPU time per request of serve, of PostgreSQL and of nginx apart.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
out=$build/web-bench
duration=${KV_WRK_DURATION:-20s}
read -r -a sizes <<<"${KV_WEB_SIZES:-100000 1000000}"
read -r -a engines <<<"${KV_WEB_ENGINES:-sqlite postgresql}"
read -r -a parts <<<"${KV_WEB_PARTS:-pages held multi}"
wants() { [[ " ${parts[*]} " == *" $1 "* ]]; }
idle=${KV_WEB_IDLE:-1000} trickle=${KV_WEB_TRICKLE:-50}
port=${KV_PG_PORT:-54344}
http_port=${KV_WEB_PORT:-18380}
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
others=()  # the other serve processes, nginx and the connection holder, when running
stop_all() {
  local pid
  for pid in "${others[@]}" $server_pid; do
    kill "$pid" 2>/dev/null && { wait "$pid" 2>/dev/null || true; }
  done
  others=()
  if [ -f "$pgdir/data/postmaster.pid" ]; then
    as_owner "$bindir/pg_ctl" -D "$pgdir/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
  return 0
}
trap stop_all EXIT
if [[ " ${engines[*]} " == *" postgresql "* ]] || wants multi; then
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

# shellcheck source=bench/web_bench_lib.sh
. "$root/bench/web_bench_lib.sh"

# serve CONNECTION [PORT]: starts a server (on http_port unless PORT is given; its process ID in
# server_pid) and waits until it answers.
serve() {
  local port=${2:-$http_port}
  "$kvaction" --connection "$1" serve --listen "127.0.0.1:$port" >"$out/serve-$port.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    curl -fso /dev/null "http://127.0.0.1:$port/signin" && return 0
    sleep 0.2
  done
  cat "$out/serve-$port.log"
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

# cpu_ticks [PID...]: the CPU time the processes (default: the server) have used, in clock
# ticks, with that of their children that ended (PostgreSQL's ended sessions, nginx's workers).
cpu_ticks() {
  local pid total=0
  for pid in "${@:-$server_pid}"; do
    total=$((total + $(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$pid/stat")))
    for child in $(pgrep -P "$pid"); do
      total=$((total + $(awk '{ print $14 + $15 }' "/proc/$child/stat" 2>/dev/null || echo 0)))
    done
  done
  echo "$total"
}

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
held_results=$out/held.txt
multi_results=$out/multi.txt
: >"$results"
: >"$held_results"
: >"$multi_results"
wants pages && for engine in "${engines[@]}"; do
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

# --- held connections ----------------------------------------------------------------------------
# wrk_figures FILE: "requests/s p50 p99 errors" of a wrk report; timeouts count as errors.
wrk_figures() {
  awk '
    /Requests\/sec/ { rps = $2 }
    $1 == "50%" { p50 = $2 }
    $1 == "99%" { p99 = $2 }
    /Non-2xx or 3xx/ { errors += $5 }
    /Socket errors/ { gsub(",", ""); errors += $4 + $6 + $8 + $10 }
    /requests in/ { requests = $1 }
    END {
      if (requests == 0) { rps = 0; p50 = "none"; p99 = "none" }
      printf "%s %s %s %d\n", rps, p50, p99, errors
    }
  ' "$1"
}

if wants held; then
  engine=${engines[0]} rows=${sizes[0]}
  echo "$engine, $rows actions: $idle idle and $trickle trickling connections held" >&2
  connection=$(database "$rows" "$engine")
  ulimit -n "$(ulimit -Hn)"
  serve "$connection"
  cookie=$(sign_in)
  python3 "$root/bench/hold_connections.py" 127.0.0.1 "$http_port" "$idle" "$trickle" \
    >"$out/held-holder.txt" 2>&1 &
  others+=($!)
  for _ in $(seq 200); do grep -q holding "$out/held-holder.txt" && break; sleep 0.2; done
  held=$(awk '/holding/ { print $2 }' "$out/held-holder.txt")
  for page in signin list; do
    path=/
    [ "$page" = signin ] && path=/signin
    wrk -t2 -c4 -d"$duration" --timeout 10s --latency -H "Cookie: $cookie" \
      "http://127.0.0.1:$http_port$path" >"$out/held-$page.txt" 2>&1 || true
    echo "$engine $rows $page ${held:-0} $(wrk_figures "$out/held-$page.txt")" |
      tee -a "$held_results" >&2
  done
  stop_all
  server_pid=""
  if [[ " ${engines[*]} " == *" postgresql "* ]] || wants multi; then
    as_owner "$bindir/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
      -o "-k $pgdir -p $port -c listen_addresses='' -c max_connections=50 -c fsync=off" \
      start >/dev/null
  fi
fi

# --- three processes behind nginx -----------------------------------------------------------------
if wants multi; then
  rows=${sizes[0]}
  echo "postgresql, $rows actions: one process, then three behind nginx" >&2
  connection=$(database "$rows" postgresql)
  cat >"$out/mixed.lua" <<'LUA'
-- 40 % the list page, 40 % a random action's page, 20 % an edit of one of u8's own actions
-- (raised by u8: numbers 145, 1145, 2145 …) through the API.
local rows = tonumber(os.getenv("KV_ROWS"))
local token = os.getenv("KV_TOKEN")
math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))
local n = 0
request = function()
  local r = math.random()
  if r < 0.4 then return wrk.format("GET", "/") end
  if r < 0.8 then return wrk.format("GET", "/action/" .. math.random(1, rows)) end
  n = n + 1
  local id = math.random(0, rows // 1000 - 1) * 1000 + 145
  return wrk.format("PATCH", "/api/v1/actions/" .. id,
    {["Authorization"] = "Bearer " .. token, ["Content-Type"] = "application/json"},
    '{"changes": {"Description": "bench edit ' .. n .. '"}}')
end
LUA
  postmaster=$(head -n 1 "$pgdir/data/postmaster.pid")
  # mixed NAME URL PID...: the mixed load on URL; prints "requests/s p50 p99 errors serve-ms
  # postgres-ms nginx-ms rss-MiB" (CPU ms per request; the largest resident size of a serve).
  mixed() {
    local name=$1 url=$2 serve_before pg_before nginx_before=0 nginx_after=0
    shift 2
    serve_before=$(cpu_ticks "$@")
    pg_before=$(cpu_ticks "$postmaster")
    [ -n "${nginx_pid:-}" ] && nginx_before=$(cpu_ticks "$nginx_pid")
    KV_ROWS=$rows KV_TOKEN=$token wrk -t2 -c8 -d"$duration" --latency -H "Cookie: $cookie" \
      -s "$out/mixed.lua" "$url" >"$out/$name.txt" 2>&1
    local serve_ticks=$(($(cpu_ticks "$@") - serve_before))
    local pg_ticks=$(($(cpu_ticks "$postmaster") - pg_before))
    [ -n "${nginx_pid:-}" ] && nginx_after=$(cpu_ticks "$nginx_pid")
    local rss=0 pid
    for pid in "$@"; do
      rss=$(awk -v r="$rss" '/VmRSS/ { print ($2 > r ? $2 : r) }' "/proc/$pid/status")
    done
    awk -v s="$serve_ticks" -v p="$pg_ticks" -v x=$((nginx_after - nginx_before)) \
      -v hz="$(getconf CLK_TCK)" -v rss="$rss" -v figures="$(wrk_figures "$out/$name.txt")" '
      /requests in/ { requests = $1 }
      END { printf "%s %.2f %.2f %.2f %.0f\n", figures, s * 1000 / hz / requests,
            p * 1000 / hz / requests, x * 1000 / hz / requests, rss / 1024 }
    ' "$out/$name.txt"
  }

  serve "$connection"
  cookie=$(sign_in)
  token=$(curl -fs -X POST "http://127.0.0.1:$http_port/api/v1/session" \
    -H 'Content-Type: application/json' -d "{\"user\": \"$user\", \"password\": \"$password\"}" |
    sed -n 's/.*"token":"\([0-9a-f]*\)".*/\1/p')
  [ -n "$token" ] || { echo "the API sign-in failed" >&2; exit 1; }
  curl -fso /dev/null -H "Cookie: $cookie" "http://127.0.0.1:$http_port/"
  echo "1 direct $(mixed multi-1 "http://127.0.0.1:$http_port" "$server_pid")" |
    tee -a "$multi_results" >&2

  # nginx with the deployment's site file, TLS on https_port, proxying to the first N of ports.
  ports=("$http_port" $((http_port + 1)) $((http_port + 2)))
  https_port=$((http_port + 10))
  nginx_dir=$(mktemp -d /tmp/kvaction-bench-nginx.XXXXXX)
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
    -keyout "$nginx_dir/key.pem" -out "$nginx_dir/cert.pem" >/dev/null 2>&1
  start_nginx() {
    local n=$1 i upstream=()
    for i in 0 1 2; do
      if [ "$i" -lt "$n" ]; then
        upstream+=(-e "s/127.0.0.1:808$i;/127.0.0.1:${ports[$i]};/")
      else
        upstream+=(-e "/server 127.0.0.1:808$i;/d")
      fi
    done
    sed "${upstream[@]}" -e "s/listen 80;/listen 127.0.0.1:$((https_port + 1));/" \
      -e "s/listen 443 ssl/listen 127.0.0.1:$https_port ssl/" \
      -e "s#/etc/letsencrypt/live/actions.example.org/fullchain.pem#$nginx_dir/cert.pem#" \
      -e "s#/etc/letsencrypt/live/actions.example.org/privkey.pem#$nginx_dir/key.pem#" \
      "$root/deploy/nginx-kvaction.conf" >"$nginx_dir/site.conf"
    cat >"$nginx_dir/nginx.conf" <<NGINX
daemon off;
worker_processes 1;
pid $nginx_dir/nginx.pid;
error_log $nginx_dir/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
$(for kind in client_body proxy fastcgi uwsgi scgi; do echo "    ${kind}_temp_path $nginx_dir/$kind;"; done)
    include $nginx_dir/site.conf;
}
NGINX
    nginx -p "$nginx_dir" -c "$nginx_dir/nginx.conf" -e "$nginx_dir/error.log" &
    nginx_pid=$!
    others+=("$nginx_pid")
    for _ in $(seq 50); do
      curl -ksfo /dev/null "https://127.0.0.1:$https_port/signin" && break
      sleep 0.2
    done
  }
  stop_nginx() {
    kill "$nginx_pid" && { wait "$nginx_pid" 2>/dev/null || true; }
    nginx_pid=""
  }

  # The same process behind nginx: what TLS and the proxy cost, apart from the spreading.
  start_nginx 1
  echo "1 nginx $(mixed multi-1-nginx "https://127.0.0.1:$https_port" "$server_pid")" |
    tee -a "$multi_results" >&2
  stop_nginx

  # Three processes: this one and two more.
  serve_pids=("$server_pid")
  for extra in "${ports[@]:1}"; do
    serve "$connection" "$extra"
    others+=("$server_pid")
    serve_pids+=("$server_pid")
  done
  server_pid=${serve_pids[0]}
  start_nginx 3
  echo "3 nginx $(mixed multi-3 "https://127.0.0.1:$https_port" "${serve_pids[@]}")" |
    tee -a "$multi_results" >&2
  stop_all
  server_pid="" nginx_pid=""
  rm -rf "$nginx_dir"
fi

# --- the section of docs/benchmarks.md ----------------------------------------------------------
doc=$root/docs/benchmarks.md
heading="## The web front end under load (wrk)"
section=$out/section.md
{
  echo "$heading"
  echo
  echo "Written by \`bench/web_bench.sh\` on $(date -u +%Y-%m-%d) on $(nproc) cores, which wrk," \
    "\`serve\` and PostgreSQL share (the load average before each run is beside it)."
  echo "\`kvaction serve\` (release build) on the benchmark databases; wrk with 2 threads and" \
    "8 connections for $duration per page, a signed-in person (\`u8\`, about 2,000 open actions" \
    "at 1,000,000). List: \"My actions\", the first page of 50 rows. Action: a random action of" \
    "the whole table per request, with its history and attachments. \"Server CPU ms/request\"" \
    "is the CPU time of the \`serve\` process (user and system) divided by the requests: it does" \
    "not depend on the machine's load, and 2 cores divided by it bound the requests per second" \
    "(the PostgreSQL server's own CPU time is not in it)."
  echo
  if [ -s "$results" ]; then
    echo "| Engine | Actions | Page | Requests/s | p50 | p99 | Errors | Server CPU ms/request |" \
      "Load average |"
    echo "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"
    while read -r engine rows page rps p50 p99 errors cpu load; do
      echo "| $engine | $rows | $page | $rps | $p50 | $p99 | $errors | $cpu | $load |"
    done <"$results"
  fi
  if [ -s "$held_results" ]; then
    echo
    echo "### With idle and trickling connections held open"
    echo
    echo "$idle connections that send nothing and $trickle that send one byte of a request head" \
      "a second (\`bench/hold_connections.py\`), held open while wrk (2 threads, 4 connections," \
      "$duration, a 10 s timeout per request) asks for a page. \"Held\" is how many were open" \
      "(connected, whether or not the server took them up); timeouts count as errors."
    echo
    echo "| Engine | Actions | Page | Held | Requests/s | p50 | p99 | Errors |"
    echo "| --- | --- | --- | --- | --- | --- | --- | --- |"
    while read -r engine rows page held rps p50 p99 errors; do
      echo "| $engine | $rows | $page | $held | $rps | $p50 | $p99 | $errors |"
    done <"$held_results"
  fi
  if [ -s "$multi_results" ]; then
    echo
    echo "### One process, and three behind nginx, on one PostgreSQL"
    echo
    echo "PostgreSQL, ${sizes[0]} actions; wrk (2 threads, 8 connections, $duration) with a mixed" \
      "load: 40 % the list page, 40 % a random action's page, 20 % an edit of one of u8's" \
      "actions through the API. One process asked directly, then behind nginx with TLS and the" \
      "site file of \`deploy/nginx-kvaction.conf\`, then three behind it, all on the same" \
      "cores (wrk's TLS too). CPU ms per request of the" \
      "\`serve\` processes together, of PostgreSQL (all its processes) and of nginx; the cores" \
      "divided by their sum bound the requests per second. RSS: the largest resident size of" \
      "one \`serve\` after the run."
    echo
    echo "| Processes | Through | Requests/s | p50 | p99 | Errors | serve CPU ms/req |" \
      "PostgreSQL CPU ms/req | nginx CPU ms/req | serve RSS MiB |"
    echo "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |"
    while read -r n via rps p50 p99 errors serve_ms pg_ms nginx_ms rss; do
      echo "| $n | $via | $rps | $p50 | $p99 | $errors | $serve_ms | $pg_ms | $nginx_ms | $rss |"
    done <"$multi_results"
  fi
  cat "$root/bench/web_bench_limits.md"
} >"$section"
# This script's own section is replaced; what comes before and after it (from the next
# second-level heading on) is kept.
before=$out/before.md after=$out/after.md
: >"$before"
: >"$after"
if [ -f "$doc" ]; then
  awk -v heading="$heading" '$0 == heading { exit } { print }' "$doc" |
    sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' >"$before"
  awk -v heading="$heading" '$0 == heading { inside = 1; next }
    inside && /^## / { inside = 0; rest = 1 } rest { print }' "$doc" >"$after"
fi
{
  cat "$before"
  echo
  cat "$section"
  if [ -s "$after" ]; then
    echo
    cat "$after"
  fi
} >"$doc"

echo
echo "engine rows page requests/s p50 p99 errors cpu-ms/request load"
cat "$results"
echo "engine rows page held requests/s p50 p99 errors"
cat "$held_results"
echo "processes via requests/s p50 p99 errors serve-ms postgres-ms nginx-ms rss-MiB"
cat "$multi_results"
