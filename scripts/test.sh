#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Tarnbeck and runs every test: once in a
# normal build (warnings are errors) and once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TARNBECK_WITH_SERVER=1 "$root/scripts/deps.sh"
jobs=$(nproc)

"$root/scripts/build.sh" "$root/build" -DTARNBECK_WERROR=ON
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

if [[ "${TARNBECK_SKIP_SANITIZERS:-0}" != 1 ]]; then
  "$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTARNBECK_SANITIZE=ON -DTARNBECK_WERROR=ON
  (cd "$root/build-asan" && ctest --output-on-failure -j"$jobs")
fi
