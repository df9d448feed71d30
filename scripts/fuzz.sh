#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) in build-fuzz and runs each for FUZZ_SECONDS (default 60),
# starting from its seed corpus in fuzz/corpus/<target>/. Fails on any crash,
# leak, sanitizer report or broken property; the input that did it is left
# in build-fuzz/findings/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
seconds=${FUZZ_SECONDS:-60}
TARNBECK_WITH_FUZZ=1 "$root/scripts/deps.sh"
clang=$(command -v clang++-14 || command -v clang++ || true)
if [[ -z "$clang" ]]; then
  echo "fuzz.sh: clang++ not found (install clang-14 and libclang-rt-14-dev)" >&2
  exit 1
fi

# The preset names clang++-14; another clang is passed in its place.
(cd "$root" && cmake --preset fuzz -DCMAKE_CXX_COMPILER="$clang" >/dev/null)
(cd "$root" && cmake --build --preset fuzz -j"$(nproc)")

targets=()
for source in "$root"/fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  [[ -x "$dir/bin/$name" ]] && targets+=("$name")
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for name in "${targets[@]}"; do
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  work="$dir/corpus/$name"
  findings="$dir/findings/$name"
  mkdir -p "$work" "$findings"
  echo "== $name: ${seconds} s"
  if ! "$dir/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "$root/fuzz/corpus/$name" >"$dir/$name.log" 2>&1; then
    failed+=("$name")
    echo "!! $name failed; the report ends:" >&2
    tail -n 40 "$dir/$name.log" >&2
  else
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$dir/$name.log" || true
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz.sh: ${#failed[@]} target(s) failed: ${failed[*]} (inputs in $dir/findings/)" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran ${seconds} s each without a finding"
