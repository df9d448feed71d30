#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Tarnbeck in build-package/: the preset
# "package" (CMakePresets.json: a Release build for /usr without tests,
# benchmarks or Qt Test) builds the program, then `cpack -G DEB` packages it.
# Prints the package's path on its last line. Its dependencies are computed
# from the executable by dpkg-shlibdeps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-package"
"$root/scripts/deps.sh"
cd "$root"
cmake --preset package >/dev/null
# Only what the package holds.
cmake --build --preset package -j"$(nproc)"
rm -f "$dir"/tarnbeck_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/tarnbeck_*.deb)
dpkg-deb --field "$deb" Package Version Architecture Depends
echo "$deb"
