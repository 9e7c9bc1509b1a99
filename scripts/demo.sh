#!/usr/bin/env bash
# The main job on the embedded default: creates the demo database (demo.kvdb, first user "admin",
# password "admin-demo") on first use and shows `kvaction info` for that user.
set -euo pipefail
kvaction=${1:?usage: demo.sh PATH/TO/kvaction}
root=$(cd "$(dirname "$0")/.." && pwd)
db=${KV_DEMO_DB:-$root/demo.kvdb}
if [ ! -f "$db" ]; then
  echo "Creating the demo database $db (user admin, password admin-demo)"
  printf 'admin-demo\n' | "$kvaction" --db "$db" init --admin admin --name "Administrator" --password-stdin
fi
printf 'admin-demo\n' | "$kvaction" --db "$db" --user admin --password-stdin info
