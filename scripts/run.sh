#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Tarnbeck and opens it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display: Tarnbeck is a desktop program; run this in a graphical session." >&2
  exit 1
fi
exec "$root/build/tarnbeck"
