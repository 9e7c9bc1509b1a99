#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs the main job on the embedded default
# database: creates the demo database on first use and shows `kvaction info` for its first user.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target kvaction
"$root/scripts/demo.sh" "$root/build/release/src/cli/kvaction"
