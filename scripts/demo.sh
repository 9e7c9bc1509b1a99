#!/usr/bin/env bash
# Creates the demo database on first use, through the `kvaction` command only, and prints its
# sign-ins. Later runs reuse it. A half-made database never takes the demo's place: the seed is
# written to a temporary file and moved in when complete.
#
#   scripts/demo.sh PATH/TO/kvaction        (database: KV_DEMO_DB, default demo.kvdb)
#
# The demo: an administrator, a lead and two people in two workgroups, and a dozen actions in
# every state a person meets: open, overdue, completed and waiting for review, closed, and one
# with a history of edits and review moves and an attachment (uploaded to DATABASE.attachments).
set -euo pipefail
kvaction=${1:?usage: demo.sh PATH/TO/kvaction}
root=$(cd "$(dirname "$0")/.." && pwd)
db=${KV_DEMO_DB:-$root/demo.kvdb}

# user:password:role, one line per demo sign-in.
sign_ins=(
  "admin:admin-demo:administrator (SuperUser)"
  "lee:lead-demo:lead (Leads workgroup)"
  "pat:pat-demo1:person (Staff workgroup)"
  "sam:sam-demo1:person (Staff workgroup)"
)

password_of() {
  local entry
  for entry in "${sign_ins[@]}"; do
    if [ "${entry%%:*}" = "$1" ]; then
      entry=${entry#*:}
      echo "${entry%%:*}"
    fi
  done
}

seed_db=""
# as USER ARGS...: runs one kvaction command on the seed database as USER.
as() {
  local user=$1
  shift
  password_of "$user" | "$kvaction" --db "$seed_db" --user "$user" --password-stdin "$@"
}

# day OFFSET: today plus OFFSET days in the short date form (M/d/yyyy).
day() { date -d "$1 days" +%-m/%-d/%Y; }

# add USER ARGS...: adds an action as USER and prints its number.
add() {
  local user=$1
  shift
  as "$user" add "$@" | tail -n 1
}

seed() {
  printf 'admin-demo\n' |
    "$kvaction" --db "$seed_db" init --admin admin --name "Alex Admin" --email admin@example.com \
      --password-stdin >/dev/null
  # Uploaded attachments live beside the database.
  mkdir -p "$db.attachments"
  as admin settings set AttachmentPath "$db.attachments" >/dev/null
  # Leads raise actions for others, close them and share queries; people carry them out.
  local leads
  leads=$(as admin workgroup add Leads 50,52,53,56,60,64,65,66,68,70,81,82 | tail -n 1)
  printf 'admin-demo\nlead-demo\n' |
    "$kvaction" --db "$seed_db" --user admin --password-stdin \
      user add lee --name "Lee Lead" --email lee@example.com --group "$leads" >/dev/null
  printf 'admin-demo\npat-demo1\n' |
    "$kvaction" --db "$seed_db" --user admin --password-stdin \
      user add pat --name "Pat Person" --email pat@example.com >/dev/null
  printf 'admin-demo\nsam-demo1\n' |
    "$kvaction" --db "$seed_db" --user admin --password-stdin \
      user add sam --name "Sam Person" --email sam@example.com >/dev/null

  # Open, due soon and later.
  add lee --subject "Order the spare pump for line 2" --assignee pat --due "$(day 10)" \
    --priority High --category Maintenance \
    --description "The spare on the shelf was used in March; order the same model." >/dev/null
  add lee --subject "Fix the leaking valve in bay 4" --assignee sam --due "$(day 3)" \
    --priority High --category Maintenance >/dev/null
  add lee --subject "Train the new starters on lockout" --assignee sam --due "$(day 21)" \
    --category Safety >/dev/null
  add lee --subject "Plan the summer maintenance shutdown" --assignee pat --due "$(day 30)" \
    --category Planning --priority Low >/dev/null
  add pat --subject "Quote for new safety signs in the yard" --assignee lee --due "$(day 7)" \
    --category Purchasing >/dev/null

  # Overdue.
  add lee --subject "Update the risk register" --assignee sam --due "$(day -5)" \
    --category Safety >/dev/null
  add lee --subject "Replace the broken window in the canteen" --assignee pat --due "$(day -12)" \
    --category Facilities >/dev/null

  # Completed, waiting for the lead's review.
  local n
  n=$(add lee --subject "Calibrate the pressure gauges" --assignee pat --due "$(day -1)" \
    --category Maintenance)
  as pat complete "$n" --note "All six gauges calibrated; certificates in the binder." >/dev/null
  n=$(add lee --subject "Check the first-aid kits" --assignee sam --due "$(day 2)" \
    --category Safety)
  as sam complete "$n" --note "Two kits restocked." >/dev/null

  # Closed.
  n=$(add lee --subject "Renew the forklift licences" --assignee sam --due "$(day -10)" \
    --category Safety)
  as sam complete "$n" --note "Both drivers passed." >/dev/null
  as lee close "$n" >/dev/null
  n=$(add lee --subject "Archive last year's inspection sheets" --assignee pat \
    --due "$(day -25)" --category Records)
  as pat complete "$n" >/dev/null
  as lee close "$n" --note "Boxed and sent to the records room." >/dev/null

  # One with a history: edited, a question and its answer, an attachment, completed, and the
  # completion sent back by the lead.
  n=$(add lee --subject "Review the supplier contract for lubricants" --assignee pat \
    --due "$(day 5)" --category Purchasing \
    --description "Compare prices and delivery terms with last year's contract.")
  as lee edit "$n" --due "$(day 8)" --priority High >/dev/null
  as pat review 12 "$n" >/dev/null # asks the lead for clarification
  as lee review 2 "$n" >/dev/null  # clarified: back to the assignee
  local notes
  notes=$(mktemp -d)
  printf 'Supplier contract review\n\nPrices: 4%% above last year.\nDelivery: 5 days instead of 3.\n' \
    >"$notes/contract-comparison.txt"
  as pat attach add "$n" "$notes/contract-comparison.txt" --description "Comparison notes" \
    >/dev/null
  rm -rf "$notes"
  as pat edit "$n" --result "Prices are 4% higher; delivery is slower." >/dev/null
  as pat complete "$n" --note "Recommend renegotiating." >/dev/null
  as lee reopen "$n" --note "Please add what the other two suppliers offer." >/dev/null
  as lee review 1 "$n" >/dev/null  # rejected: the assignee's turn again
}

if [ ! -f "$db" ]; then
  echo "Creating the demo database $db (a few seconds)"
  seed_db="$db.seeding"
  rm -f "$seed_db"
  seed
  mv "$seed_db" "$db"
fi

echo "Demo sign-ins (user / password, role):"
for entry in "${sign_ins[@]}"; do
  IFS=: read -r user password role <<<"$entry"
  printf '  %-6s %-11s %s\n' "$user" "$password" "$role"
done
