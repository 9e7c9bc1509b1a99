#!/usr/bin/env bash
# The main job: installs what is missing, builds the release preset, creates the demo database on
# first use (scripts/demo.sh: four people, a dozen actions) and serves it with `kvaction serve`,
# printing the address and the demo sign-ins first. Ctrl-C stops the server; running again
# reuses the database.
#   KV_LISTEN  HOST:PORT to serve on (default 127.0.0.1:8080)
#   KV_DEMO_DB the database file (default demo.kvdb in the repository)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cd "$root"
cmake --preset release >/dev/null
# The command, and with it all that `cmake --install build/release` installs (not the tests).
cmake --build --preset release --target kv_installable
kvaction="$root/build/release/src/cli/kvaction"
export KV_DEMO_DB=${KV_DEMO_DB:-$root/demo.kvdb}
"$root/scripts/demo.sh" "$kvaction"
listen=${KV_LISTEN:-127.0.0.1:8080}
echo "Open http://$listen/ in a browser and sign in as one of the people above."
exec "$kvaction" --db "$KV_DEMO_DB" serve --listen "$listen"
