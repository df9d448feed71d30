#!/usr/bin/env bash
# Builds a Release tree (build-bench) and runs every benchmark under bench/,
# then prints one table: a row per figure with its row or message count, the
# median and the spread (min-max) over the runs, and for Get Header and the
# delete batch the ratio of the window to the minimal sequential client
# (same Dovecot, same mailbox, same run), and the heap over a session of
# 10,000 header fetches and 1,000 reads; then the window against a hostile
# server (1 GB without a line break, 1,000,000 stray "." lines: peak memory,
# times and the longest stall of the window's event loop).
#
#   scripts/bench.sh            the default run (about three minutes; most of it
#                               is writing the 100,000-message mailbox)
#   scripts/bench.sh --quick    no 1,000,000-row list, a 10,000-message listing
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-bench"

list_counts=(10000 100000 1000000)
session_args=(--rows 1000 --listing 100000 --runs 5)
hostile_args=(--runs 3)
case "${1:-}" in
  --quick) list_counts=(10000 100000); session_args=(--rows 1000 --listing 10000 --runs 3); hostile_args=(--runs 1) ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" --target bench_maillist bench_session bench_hostile -j"$(nproc)" >/dev/null

export QT_QPA_PLATFORM=offscreen
lines=$(mktemp)
trap 'rm -f "$lines"' EXIT

"$dir/bench/bench_maillist" --table "${list_counts[@]}" 2>/dev/null | grep '^TABLE' >>"$lines" || {
  echo "bench_maillist failed" >&2; exit 1; }
session_out=$("$dir/bench/bench_session" --table "${session_args[@]}" 2>/dev/null) || {
  echo "bench_session failed:" >&2; echo "$session_out" >&2; exit 1; }
if ! grep -q '^TABLE' <<<"$session_out"; then
  # Without Dovecot the session figures are missing; say why.
  echo "$session_out" >&2
fi
grep '^TABLE' <<<"$session_out" >>"$lines" || true
"$dir/bench/bench_session" --table --memory 2>/dev/null | grep '^TABLE' >>"$lines" || true
hostile_out=$("$dir/bench/bench_hostile" --table "${hostile_args[@]}" 2>/dev/null) || {
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
