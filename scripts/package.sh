#!/usr/bin/env bash
# Builds the Debian package of Tarnbeck: a Release build for /usr in the given
# directory (default: build-package), then `cpack -G DEB` there. Prints the
# package's path on its last line. Its dependencies are computed from the
# executable by dpkg-shlibdeps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$root/build-package"}
"$root/scripts/deps.sh"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds; the tests are built by scripts/test.sh.
cmake --build "$dir" --target tarnbeck -j"$(nproc)"
rm -f "$dir"/tarnbeck_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/tarnbeck_*.deb)
dpkg-deb --field "$deb" Package Version Architecture Depends
echo "$deb"
