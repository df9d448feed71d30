#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian 12 machine, builds Tarnbeck and runs every test: once in a
# normal build (warnings are errors), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzz target for FUZZ_SECONDS (default
# 60; scripts/fuzz.sh).
#
#   TARNBECK_SKIP_SANITIZERS=1   leaves out the sanitizer build
#   TARNBECK_SKIP_FUZZ=1         leaves out the fuzzing
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fuzz=1
[[ "${TARNBECK_SKIP_FUZZ:-0}" == 1 ]] && fuzz=0
TARNBECK_WITH_SERVER=1 TARNBECK_WITH_X11=1 TARNBECK_WITH_FUZZ=$fuzz "$root/scripts/deps.sh"
jobs=$(nproc)

"$root/scripts/build.sh" default
(cd "$root" && ctest --preset default -j"$jobs")

if [[ "${TARNBECK_SKIP_SANITIZERS:-0}" != 1 ]]; then
  "$root/scripts/build.sh" asan
  (cd "$root" && ctest --preset asan -j"$jobs")
fi

if [[ $fuzz == 1 ]]; then
  "$root/scripts/fuzz.sh"
fi
