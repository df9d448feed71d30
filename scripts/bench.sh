#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a Release tree (build-bench) and runs every benchmark under bench/,
# then prints one table: a row per figure with its row or message count, the
# median and the spread (min-max) over the runs, the heap over a session of
# 10,000 header fetches and 1,000 reads; then the window against a hostile
# server (1 GB without a line break, 1,000,000 stray "." lines, floods of
# short lines as a listing, a header section and a read, a listing of
# 2,000,000 rows, 100,000 rows listed and headed: peak memory, times and the
# longest stall of the window's event loop).
#
# A second table holds Get Header and the delete batch over 1,000 rows, in
# the same run against the same Dovecot and mailbox: the shown window with
# Pipelining=1 and with Pipelining=0 in its settings file, a client that
# sends one command at a time and a client that writes the whole batch before
# it reads; on loopback and through a proxy delaying each direction by 25 ms.
# Through the proxy the one-at-a-time cases run over fewer rows (50 ms a row);
# compare them by the time per row. The ratios are the window's time per row
# over each client's on the same link.
#
#   scripts/bench.sh            the default run (one-at-a-time batches through
#                               the proxy over 200 rows, 3 runs; a window that
#                               does not pipeline costs 100 s a run there)
#   scripts/bench.sh --quick    no 1,000,000-row list, a 10,000-message listing,
#                               one run through the proxy, 100 rows one at a time
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-bench"

list_counts=(10000 100000 1000000)
session_args=(--rows 1000 --listing 100000 --runs 5 --proxy-rows 200 --proxy-runs 3)
hostile_args=(--runs 3)
case "${1:-}" in
  --quick) list_counts=(10000 100000); session_args=(--rows 1000 --listing 10000 --runs 3 --proxy-rows 100 --proxy-runs 1); hostile_args=(--runs 1) ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

(cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench -j"$(nproc)" >/dev/null)

export QT_QPA_PLATFORM=offscreen
lines=$(mktemp)
batches=$(mktemp)
trap 'rm -f "$lines" "$batches"' EXIT

"$dir/bin/bench_maillist" --table "${list_counts[@]}" 2>/dev/null | grep '^TABLE' >>"$lines" || {
  echo "bench_maillist failed" >&2; exit 1; }
session_out=$("$dir/bin/bench_session" --table "${session_args[@]}" 2>/dev/null) || {
  echo "bench_session failed:" >&2; echo "$session_out" >&2; exit 1; }
if ! grep -q '^BATCH' <<<"$session_out"; then
  # Without Dovecot the session figures are missing; say why.
  echo "$session_out" >&2
fi
grep '^TABLE' <<<"$session_out" >>"$lines" || true
grep '^BATCH' <<<"$session_out" >>"$batches" || true
"$dir/bin/bench_session" --table --memory 2>/dev/null | grep '^TABLE' >>"$lines" || true
hostile_out=$("$dir/bin/bench_hostile" --table "${hostile_args[@]}" 2>/dev/null) || {
  echo "bench_hostile failed:" >&2; echo "$hostile_out" >&2; exit 1; }
grep '^TABLE' <<<"$hostile_out" >>"$lines"

awk -F'\t' '
  BEGIN {
    printf "| %-56s | %9s | %16s | %21s | %17s |\n", "Figure", "Count", "Median", "Spread (min-max)", "Ratio to client"
    printf "|%s|%s|%s|%s|%s|\n", "----------------------------------------------------------",
           "----------:", "-----------------:", "----------------------:", "------------------:"
  }
  {
    spread = ($6 == "" ? "-" : sprintf("%s-%s %s", $6, $7, $4))
    ratio = ($8 == "" ? "" : sprintf("%.2f", $8))
    printf "| %-56s | %9s | %16s | %21s | %17s |\n", $2, $3, $5 " " $4, spread, ratio
  }' "$lines"

[[ -s "$batches" ]] || exit 0
echo
awk -F'\t' '
  BEGIN {
    printf "| %-12s | %-16s | %-17s | %-13s | %5s | %11s | %19s | %11s | %13s | %12s |\n", "Batch", "Link", "Who", "Mode",
           "Rows", "Median", "Spread (min-max)", "Per row", "/ sequential", "/ pipelined"
    printf "|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", "--------------", "------------------", "-------------------",
           "---------------", "------:", "------------:", "--------------------:", "------------:", "--------------:",
           "-------------:"
  }
  {
    printf "| %-12s | %-16s | %-17s | %-13s | %5s | %8s ms | %16s ms | %8s us | %13s | %12s |\n", $2, $3, $4, $5,
           $6, $7, $8 "-" $9, $10, $11, $12
  }' "$batches"
