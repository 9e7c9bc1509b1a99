#!/usr/bin/env bash
# Line and branch coverage of the product code under src/ (test programs and test helpers left out):
# builds the coverage preset, runs every test on SQLite and on a private PostgreSQL server started
# here (port KV_PG_PORT, 54345 unless set), prints gcovr's totals and writes an HTML report to
# build/coverage/html/index.html. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/coverage"
"$root/scripts/setup.sh"
cd "$root"
cmake --preset coverage >/dev/null
cmake --build --preset coverage
# Counters add up across runs: start from zero so the figures describe this run only.
find "$build" -name '*.gcda' -delete
pgdir=$(mktemp -d /tmp/kvaction-cov-pg.XXXXXX)
trap '"$root/scripts/pg.sh" stop "$pgdir"' EXIT
KV_TEST_PG=$(KV_PG_PORT=${KV_PG_PORT:-54345} "$root/scripts/pg.sh" start "$pgdir")
export KV_TEST_PG
# A failing test still leaves its counters: report them, then fail.
status=0
ctest --preset coverage -j 2 "$@" || status=$?
mkdir -p "$build/html"
# Branches the compiler adds for exception unwinding are not decisions of the code: leave them out.
gcovr --root "$root" --object-directory "$build" --filter "$root/src/" \
  --exclude '.*_test\.(cc|h)$' --exclude '.*Test\.(cc|h)$' --exclude '.*/testing/.*' \
  --exclude-throw-branches --exclude-unreachable-branches -j 2 \
  --html-details "$build/html/index.html" --print-summary
exit "$status"
