#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian 12 machine, builds Tarnbeck and opens it against a local
# demo POP3 server (Dovecot on a free loopback port, about 200 generated
# messages). The demo runs from build/demo with settings of its own; the
# settings next to build/bin/tarnbeck are left alone. Closing the program, or
# Ctrl-C here, stops the server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TARNBECK_WITH_SERVER=1 "$root/scripts/deps.sh"
"$root/scripts/build.sh" default
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display: Tarnbeck is a desktop program; run this in a graphical session." >&2
  exit 1
fi
bin="$root/build/bin"
exec "$bin/tarnbeck-demo" "$bin/tarnbeck" "$root/build/demo"
