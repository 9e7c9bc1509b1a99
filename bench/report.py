#!/usr/bin/env python3
"""Turns the benchmark results of scripts/bench.sh into docs/benchmarks.md and prints the worst
ratio and the peak memory of the 1,000,000-row list as its last two lines.

Each benchmark is named "operation/side/engine[/actions]"; side is "paired" (both sides timed in
alternation within each run, reported as the counters library_wall, library_cpu, raw_wall and
raw_cpu) or, for the eight writers, "library" or "raw". A figure is the median of the
repetitions; a ratio is library median / raw median."""
import argparse
import json
import os
import statistics
import sys

INTRO = """# Benchmarks

`scripts/bench.sh` measures each operation of the library against the raw driver doing the same
work (SQLite's C API, libpq), in one process, and writes this page (`--quick`: shorter
repetitions, the writes each a fixed, smaller count of actions).
What "the same work" means here:

- the raw side sends the statement texts the library's statements arrive at the engine as (the
  translated text, values bound where the library binds them; the reads of `EmailData` and
  `editingRights`, which go to the engine untranslated, in one text for both engines), each
  prepared once;
- it reads every column of every row into a value of its type (texts copied out of the driver's
  buffers) and keeps the texts until the call ends, as the library's record set holds its answer;
  for the default list, which the library streams, it drops each row as read, as the library
  does (on PostgreSQL in libpq's single-row mode, as the library reads it); the library side
  reads every field of every row;
- it connects with the library's session settings that change the work of a read (on
  PostgreSQL one plan per prepared statement);
- it makes the same setting and profile reads and has the same transaction shape (SQLite: `BEGIN
  IMMEDIATE` … `COMMIT`; PostgreSQL: `BEGIN` sent with the transaction's first statement, the
  advisory numbering lock for new actions);
- it really writes: each raw write must change exactly one row, or the run stops; the eight
  concurrent writers must leave the action numbers gapless (1..n, each once) on both sides;
- each side runs its operation once before timing (a new server session's first catalog reads
  and the statements' preparation are not measured on either side).

Library and raw sides run in alternation within each run: a turn of about five milliseconds of
one side (as many calls as fill it), then as many calls of the other, the side that starts
switching every turn, each turn timed on its own. Each side's figure for a run is the median of
its turns, per call; the figure given here is the median of five runs. The eight concurrent
writers, which cannot share a run, are separate runs interleaved by Google Benchmark (the median
of five).

This machine's two cores are shared and virtual. A pause of the whole process (milliseconds)
falls on whichever side's turn it meets: sums of turns, or runs of one side after the other,
moved by ±30 % from run to run. The benchmarks and their PostgreSQL servers run pinned to one
core, so that a round trip never waits for an idle core to wake up (where the scheduler put each
server process moved PostgreSQL figures by ±40 %); the eight concurrent writers and their
servers run on both cores (on one, a writer holding SQLite's lock is preempted by the others,
which then sleep in the busy handler). Load average {load} when the run ended.

Wall time and CPU time (of the client process: the PostgreSQL server's own CPU is not in it) are
both given, in µs per operation. Write figures are given with the test server's settings (fsync,
synchronous commit and full-page writes off) and with a durable server (all three on); both
sides log in to them as the product's own role, `kvaction`, which is not a superuser, as
operators are told to (`scripts/pg.sh role` makes it). SQLite
runs as the library opens it (WAL, synchronous NORMAL) on both sides. On PostgreSQL most of the
client's CPU per write is the kernel's (a `sendto`, `poll` and `recvfrom` per round trip, the
same on both sides, and the wakeups between).
"""

LIMITS = """
## What limits the ratios

- Every library read builds a record set: typed values (`vb::Variant`, with texts copied and
  dates converted) and a cursor. Field metadata and the store that writes rows back are built
  once per statement and shared by the record sets opened over it, results share the engine's
  column description, each cell is read from the engine straight into its row, and reading a
  field hands out the record set's own value (no copy; the common case, a stored row under the
  cursor, is inline at the caller); the raw side copies each cell once. What is left per cell
  is the `Variant` (a date parsed, which the raw side leaves as text) and the row's own vector;
  per call, the translation cache (a statement that carries its values is scanned for them,
  unless the library wrote it as a head ending with an action's key)
  and the record set's allocations. On PostgreSQL the per-cell `PQgetvalue`/`PQgetlength`/
  `PQgetisnull` calls are the same on both sides, and a text value is sent from the caller's
  string, not a copy. For reads of one row (`DataRecord`, found by its head and bound with its
  key) the per-call cost dominates.
- `EmailData` and `editingRights` build no record set to read: their statements go to the engine
  with their values bound and come back as rows of values (`EmailData`: the action, the people's
  addresses, the nine labels: three round trips on both sides, the labels' statement text built
  once; `editingRights`: the user's workgroup). Their reads cost the library no more client
  instructions than the raw side (callgrind: `editingRights`' workgroup read about 7,200
  instructions on PostgreSQL where the raw statement takes about 7,900). What remains above the
  raw side is the answer, which the raw side does not build: for `EmailData` the nine labels
  resolved, the subject, the body with its status sentence and a dozen dates in the user's
  format (about a third of its 84,000 client instructions on PostgreSQL), for `editingRights`
  the seventeen permissions (about 4,400 of 11,600); each is handed out as a one-record set
  built in one step over a field list shared by every call, and the benchmark reads every field
  of it.
- Writes keep the statements their callers see: `addRecord` reads the user's due days (one text
  for both engines, values bound, through the data connection), then under the numbering lock
  reads the highest number ("select top 1 * from actions order by ActionNumber desc", the whole
  row, through a keyset, optimistic record set), opens the empty record set it adds its row to
  ("…where ActionNumber=0"), builds and stores the row, writes its creation event and commits;
  the raw side sends the same texts in the same order and reads every column of both answers.
  Left out, the empty record set would save the library about 14,000 client instructions per
  creation on PostgreSQL, but the raw side more (libpq reads the 23 column descriptions alike on
  both sides): the ratio would rise. A history event is one prepared `INSERT`; setting and
  profile values are read from the engine's answer, without a record set; a table's `INSERT` and
  `UPDATE` texts are built once per set of columns written. On PostgreSQL a write that fails is
  undone alone: the transaction's first write (only reads before it) by starting the
  transaction again, each later one by a savepoint sent in the same round trip as the write.
  `updateRecord` of one column (event, then the row) and `delete_` (the row, then its event)
  need that savepoint: the event stays written when the row's store fails, the deletion stays
  done when its event fails. The raw side, keeping the same outcome on failure, sends it too
  (SQLite undoes a failed statement by itself: no savepoint on either side). A statement that
  ends with an action's key (`DataRecord`'s read, `delete_`'s `DELETE`) is found by its head:
  one translation and one prepared statement serve every key, and the text is not scanned for
  its values. In client instructions (callgrind, PostgreSQL, 61 calls with the untimed first)
  the library is at about 1.25× the raw side for `addRecord` (1.06× on SQLite, where the
  engine's own work is most of a creation), 1.16× for `updateRecord` and `setStatus` and 1.14×
  for `delete_`; after the first call about 1.12× for `setStatus` and `delete_` (on SQLite
  0.98–1.03×). libpq's share is the same on both sides; the rest is the first call's work (the
  result's type names read once per session, a keyed statement translated twice to learn where
  its key goes; a table's columns are described with the catalog read when the database opens),
  the record set the row is read into or added through (typed values, dates parsed, the edit's
  copy of the row and of its values as read, fields found by name), the statement trace and the
  typed values bound. The system calls are the same on both sides (one `sendto`, `poll` and
  `recvfrom` per round trip), so the CPU ratios, which include the kernel's share, are lower
  than the instruction ratios. The user directory works through the data server's connection
  (one session per client, as on the raw side): with a connection of its own, each call that
  read users or the profile woke a second server process (on PostgreSQL), or found its page
  cache dropped by the other connection's last write and read the pages from the file again
  (SQLite).
- With a durable server every commit waits for the disk, which the two sides share: the wall
  ratios move towards 1. The client's CPU per operation grows with the wait on both sides, the
  library's more: no busy polling (one `poll` per round trip on either side), but after a wait
  of milliseconds on a loaded machine the caches are cold, and the library runs more code and
  touches more memory per operation than the raw side.
- Eight concurrent writers: on SQLite both sides take the write lock with `BEGIN IMMEDIATE`
  and wait with the same busy timeout (SQLite's handler sleeps 1, 2, 5, 10 … ms between tries),
  so every microsecond inside the lock costs more than its share: waiting writers sleep longer.
  Inside the lock both sides read the highest number, open the empty record set, store the row
  and its event and commit; the library also builds its new row there (the record set's buffer,
  the values converted and checked), after the highest number as its callers see it. On
  PostgreSQL both
  take the same advisory lock with the highest-number read, send the same statements inside it
  and wait alike (strace: about one `poll` per `sendto` on either side, no wakeups while the
  lock is awaited), so what the library adds is its own code per creation, which the waits make
  costlier (caches cold after each wait). Each writer runs once before timing: with a
  few timed runs per writer the first was most of the figure, and the raw writer's session, new
  at that run (the library's had logged in), prepared its statements and filled its catalog
  caches inside the lock with seven writers queued behind it, so that the raw side looked four
  times slower than the library.
- Long answers cost per row: every cell becomes a `vb::Variant` (a text is copied, a date is
  parsed): `AlertRecords` (a quarter of the table) stays about 1.25 times the raw client
  instructions on PostgreSQL (libpq 15 has no chunked-rows mode; both sides read one result),
  and the 1,000,000-row list below takes about 1.2 to 1.4 times the raw side's time. A
  forward-only, read-only record set streams its rows (SQLite steps the statement, PostgreSQL
  reads in libpq's single-row mode), so its memory follows the current row, not the answer.
- The PostgreSQL alert count and default list read the user's open actions through indexes of
  the open actions only (by assignee, by originator), then the heap pages that hold them (a
  bitmap scan: with the alternatives of the count joined by `or` no plan can answer from the
  indexes alone, and the list reads every column): the same 20 rows at both sizes, one index
  level more at 1,000,000. Each prepared statement keeps one plan (see docs/choices.md); with the
  server's default the count and the list were planned again on every call at 1,000,000 actions
  (and not at 10,000), which was most of their growth on both sides.
- The alert count and the default list run the same statement, with the same plan, on both
  sides (SQLite: the alert and person indexes, `EXPLAIN QUERY PLAN` alike for the text with
  literals and with bound values); what the library adds is per call, not per row of the table:
  the translation's lookup, the record set, and the check that the text reads only the actions
  table, which is made once per text.
"""


def load(path):
    with open(path) as f:
        return json.load(f)["benchmarks"]


def collect(entries, group, table):
    for b in entries:
        if b.get("run_type") != "iteration":
            continue
        parts = b["name"].split("/")
        op, side, engine = parts[0], parts[1], parts[2]
        rows = parts[3] if len(parts) > 3 and parts[3].isdigit() else ""
        key = (group, op, engine, rows)
        slot = table.setdefault(key, {"library": [], "raw": [], "error": ""})
        if b.get("error_occurred"):
            slot["error"] = b.get("error_message", "failed")
            continue
        if side == "paired":
            for each in ("library", "raw"):
                slot[each].append((b[each + "_wall"], b[each + "_cpu"]))
        else:
            slot[side].append((b["real_time"], b["cpu_time"]))


def medians(samples):
    return (statistics.median(s[0] for s in samples), statistics.median(s[1] for s in samples))


def rows_of(table, groups):
    result = []
    for key, slot in table.items():
        if key[0] not in groups:
            continue
        if slot["error"] or not slot["library"] or not slot["raw"]:
            result.append((key, None, slot["error"] or "missing"))
            continue
        lib, raw = medians(slot["library"]), medians(slot["raw"])
        result.append((key, (lib, raw, lib[0] / raw[0], lib[1] / raw[1]), ""))
    return result


# The first heading of the sections this script does not write, kept at the page's end.
KEPT_FROM = "## The web front end under load"

SERVER = {"writes-fast": "fsync off", "writes-durable": "durable", "writers-fast": "fsync off",
          "writers-durable": "durable", "reads": ""}


def fmt_row(cells):
    return "| " + " | ".join(cells) + " |"


def figures(m):
    (lib, raw, wall, cpu) = m
    return [f"{lib[0]:.1f}", f"{raw[0]:.1f}", f"**{wall:.2f}**", f"{lib[1]:.1f}", f"{raw[1]:.1f}",
            f"**{cpu:.2f}**"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--quick", default="0")
    ap.add_argument("--load", default="?")
    ap.add_argument("results")
    args = ap.parse_args()

    table = {}
    for group in ("reads", "writes-fast", "writes-durable", "writers-fast", "writers-durable"):
        path = os.path.join(args.results, group + ".json")
        if os.path.exists(path):
            collect(load(path), group, table)

    lines = [INTRO.format(load=args.load)]
    head = ["library wall", "raw wall", "ratio", "library CPU", "raw CPU", "CPU ratio"]
    worst = (0.0, "none")

    def note(ratio, label):
        nonlocal worst
        if ratio > worst[0]:
            worst = (ratio, label)

    lines.append("## Writes\n")
    lines.append(fmt_row(["Operation", "Engine", "Server"] + head))
    lines.append(fmt_row(["---"] * 9))
    writes = rows_of(table, ("writes-fast", "writes-durable", "writers-fast", "writers-durable"))
    writes.sort(key=lambda r: (r[0][1], r[0][2], r[0][0]))
    for key, m, error in writes:
        group, op, engine, _ = key
        server = SERVER[group] if engine == "PostgreSQL" else "WAL, NORMAL"
        if m is None:
            lines.append(fmt_row([op, engine, server, f"failed: {error}"] + [""] * 5))
            note(float("inf"), f"{op} failed, {engine}")
            continue
        lines.append(fmt_row([op, engine, server] + figures(m)))
        where = engine if engine == "SQLite" else f"{engine} {server}"
        note(m[2], f"{op} wall, {where}")
        note(m[3], f"{op} CPU, {where}")

    lines.append("\n## Reads\n")
    lines.append(fmt_row(["Operation", "Engine", "Actions"] + head))
    lines.append(fmt_row(["---"] * 9))
    reads = rows_of(table, ("reads",))
    reads.sort(key=lambda r: (r[0][1], r[0][2], int(r[0][3] or 0)))
    for key, m, error in reads:
        _, op, engine, rows = key
        size = f"{int(rows):,}" if rows else ""
        if m is None:
            lines.append(fmt_row([op, engine, size, f"failed: {error}"] + [""] * 5))
            note(float("inf"), f"{op} failed, {engine}")
            continue
        lines.append(fmt_row([op, engine, size] + figures(m)))
        note(m[2], f"{op} wall, {engine} {size}")
        note(m[3], f"{op} CPU, {engine} {size}")

    lines.append("\n## Growth from 10,000 to 1,000,000 actions (wall, median)\n")
    lines.append(fmt_row(["Operation", "Engine", "Library 1,000,000 ÷ 10,000",
                          "Raw 1,000,000 ÷ 10,000"]))
    lines.append(fmt_row(["---"] * 4))
    by_key = {k: m for k, m, _ in reads if m}
    for op in ("Alerts", "default list"):
        for engine in ("SQLite", "PostgreSQL"):
            small = by_key.get(("reads", op, engine, "10000"))
            large = by_key.get(("reads", op, engine, "1000000"))
            if small and large:
                lines.append(fmt_row([op, engine, f"{large[0][0] / small[0][0]:.2f}",
                                      f"{large[1][0] / small[1][0]:.2f}"]))

    peak = 0.0
    lines.append("\n## Listing 1,000,000 actions (forward-only, read-only, every field read)\n")
    lines.append(fmt_row(["Side", "Engine", "Rows", "Seconds", "Peak memory (MiB)"]))
    lines.append(fmt_row(["---"] * 5))
    memory = os.path.join(args.results, "memory.txt")
    if os.path.exists(memory):
        for line in open(memory):
            words = line.split()
            if len(words) < 8:
                continue
            side, engine = words[0], words[1]
            values = dict(zip(words[2::2], words[3::2]))
            mib = float(values["peak_mib"])
            if side == "library":
                peak = max(peak, mib)
            lines.append(fmt_row([side, engine, values["rows"], values["seconds"], f"{mib:.1f}"]))
    lines.append("\n## Summary of this run\n")
    lines.append(f"- Worst ratio (wall or CPU, any operation and engine): {worst[0]:.2f} "
                 f"({worst[1]}).")
    lines.append(f"- Peak memory of the 1,000,000-row forward-only list (library, worst engine): "
                 f"{peak:.0f} MiB.")
    lines.append(LIMITS)

    # Sections written by other programs (the web front end's, by bench/web_bench.sh) stay.
    kept = ""
    if os.path.exists(args.out):
        with open(args.out) as f:
            previous = f.read()
        start = previous.find(KEPT_FROM)
        if start >= 0:
            kept = "\n" + previous[start:]
    with open(args.out, "w") as f:
        f.write("\n".join(lines) + kept)
    print(f"wrote {args.out}", file=sys.stderr)
    print(f"worst ratio: {worst[0]:.2f} ({worst[1]})")
    print(f"peak memory, 1,000,000-row list: {peak:.0f} MiB")


if __name__ == "__main__":
    main()
