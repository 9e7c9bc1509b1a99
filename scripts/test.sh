#!/usr/bin/env bash
# Installs what is missing, builds (preset debug unless KV_PRESET says otherwise) and runs every
# test on the embedded SQLite engine and on a private PostgreSQL server started here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${KV_PRESET:-debug}
"$root/scripts/setup.sh"
cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
pgdir=$(mktemp -d /tmp/kvaction-pg.XXXXXX)
trap '"$root/scripts/pg.sh" stop "$pgdir"' EXIT
KV_TEST_PG=$("$root/scripts/pg.sh" start "$pgdir")
export KV_TEST_PG
ctest --preset "$preset" -j 2 "$@"
