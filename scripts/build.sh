#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds one of the build trees of CMakePresets.json (default:
# the preset "default", in build/). Extra arguments go to cmake's configure
# step.
#
#   scripts/build.sh                 build/       program, tests, tools
#   scripts/build.sh asan            build-asan/  the same under the sanitizers
#   scripts/build.sh bench           build-bench/ Release, the benchmarks
#   scripts/build.sh fuzz            build-fuzz/  the fuzz targets (clang)
#   scripts/build.sh package         build-package/ Release for /usr, no tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-default}
shift || true
cd "$root"
cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
