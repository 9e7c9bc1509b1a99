#!/usr/bin/env bash
# Kills `kvaction attach add` and `kvaction attach rm` with SIGKILL at random moments, many times
# over, on a scratch SQLite database, and checks after the deaths that the next command's open
# leaves every attachment file with its row, every row with its file, and no .tmp or .del.
# Most deaths are left to the next writer's open, which may itself be killed while it settles.
#
#   scripts/attachment-kill-loop.sh PATH/TO/kvaction [KILLS]      (default 200)
set -euo pipefail
kvaction=$(realpath "${1:?usage: attachment-kill-loop.sh PATH/TO/kvaction [KILLS]}")
kills=${2:-200}
scratch=$(mktemp -d /tmp/kvaction-kill.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config
db=$scratch/kill.kvdb
files=$scratch/files
upload=$scratch/upload.bin
mkdir -p "$files"
head -c 300000 /dev/urandom >"$upload"

kv() { "$kvaction" --db "$db" "$@"; }
printf 'kill-loop1\n' | kv init --admin admin --name "Kill Loop" --password-stdin >/dev/null
printf 'kill-loop1\n' | kv --user admin --password-stdin login >/dev/null
kv settings set AttachmentPath "$files" >/dev/null
action=$(kv add --subject "Attachments under fire" | tail -n 1)

# The stored names of the table, one a line, sorted (the command's open settles first).
stored() {
  kv sql "select StoredName from ActionAttachments where StoredName is not null" --csv |
    tail -n +2 | tr -d '\r' | sort
}
check() {
  local rows listed
  rows=$(stored)
  listed=$(find "$files" -mindepth 1 -maxdepth 1 -printf "%f\n" | sort)
  if [ "$rows" != "$listed" ]; then
    echo "attachment-kill-loop: after kill $1 the folder and the table differ:" >&2
    diff <(echo "$rows") <(echo "$listed") >&2 || true
    exit 1
  fi
}

# How long one upload takes unharmed: the kills fall anywhere in that span and a little past it,
# so that some writes finish.
start=$(date +%s%N)
kv attach add "$action" "$upload" >/dev/null
span=$((($(date +%s%N) - start) / 1000))
echo "attachment-kill-loop: one upload takes ${span} µs; killing $kills times"

killed=0
for ((round = 1; round <= kills; round++)); do
  # Only a removal asks for an ID first: between two uploads nothing else opens the database.
  last=""
  if ((round % 3 == 0)); then
    last=$(kv sql "select max(AttachmentID) from ActionAttachments" --csv | tail -n 1 | tr -d '\r')
  fi
  if [ -n "$last" ]; then
    "$kvaction" --db "$db" attach rm "$last" >/dev/null 2>&1 &
  else
    "$kvaction" --db "$db" attach add "$action" "$upload" >/dev/null 2>&1 &
  fi
  pid=$!
  sleep "$(awk -v r="$RANDOM" -v span="$span" 'BEGIN { printf "%.6f", r / 32767 * span * 1.25 / 1e6 }')"
  if kill -9 "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  if ((round % 5 == 0 || round == kills)); then check "$round"; fi
done
leftover=$(stored | wc -l)
echo "attachment-kill-loop: $killed of $kills commands killed while running; 0 orphans, 0 rows" \
  "without their file, $leftover attachments in place"
