#!/usr/bin/env bash
# Installs what is missing, builds (preset debug unless KV_PRESET says otherwise) and runs every
# test on the embedded SQLite engine and on a private PostgreSQL server started here; then checks
# that the library installs and packages for its clients (scripts/install-check.sh; not with the
# sanitizer presets, whose libraries need the sanitizer runtime; KV_INSTALL_CHECK=0 skips it).
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
case "$preset" in
  asan | fuzz) ;;
  *) [ "${KV_INSTALL_CHECK:-1}" = 0 ] || "$root/scripts/install-check.sh" "$root/build/$preset" ;;
esac
