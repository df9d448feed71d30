#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building and testing Tarnbeck needs on Debian 12: with apt-get
# when run as root, otherwise it prints the apt-get line to run and fails.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  fonts-liberation fonts-dejavu-core
)
# Install checks and the Debian package: validators of the desktop entry and
# the metainfo, and what CPack needs to compute the package's dependencies.
packages+=(desktop-file-utils appstream dpkg-dev file)
if [[ "${TARNBECK_WITH_SERVER:-0}" == 1 ]]; then
  packages+=(dovecot-core dovecot-pop3d openssl)
fi
if [[ "${TARNBECK_WITH_X11:-0}" == 1 ]]; then
  # A virtual X server and a window manager to run the program in, and
  # xdotool to press its keys the way a user does.
  packages+=(xvfb openbox wmctrl x11-utils xdotool)
fi
if [[ "${TARNBECK_WITH_SCREENSHOT:-0}" == 1 ]]; then
  # import, for scripts/screenshot.sh.
  packages+=(imagemagick)
fi
if [[ "${TARNBECK_WITH_FUZZ:-0}" == 1 ]]; then
  # clang with libFuzzer and the sanitizer runtimes.
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "Tarnbeck needs these packages; run as root:" >&2
  echo "  sudo apt-get update && sudo $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq

# The tests and the demo start a private Dovecot of their own. Debian's
# system-wide service (POP3 on every interface, logins with system accounts)
# must not come with it: when Dovecot is new here, a policy keeps its package
# scripts from starting the service and the service is disabled afterwards. A
# Dovecot that was installed before is left as it was.
new_dovecot=0
[[ " ${missing[*]} " == *" dovecot-core "* ]] && new_dovecot=1
policy=/usr/sbin/policy-rc.d
if [[ $new_dovecot == 1 && ! -e $policy ]]; then
  trap 'rm -f "$policy"' EXIT
  trap 'exit 1' INT TERM HUP
  printf '%s\n' '#!/bin/sh' '# Set by the Tarnbeck set-up while it installs Dovecot.' \
    'for a; do case "$a" in dovecot*) exit 101 ;; esac; done' 'exit 0' >"$policy"
  chmod 755 "$policy"
fi
$line -qq
if [[ $new_dovecot == 1 ]]; then
  if command -v systemctl >/dev/null 2>&1; then
    systemctl disable --quiet dovecot.service dovecot.socket 2>/dev/null || true
    if [[ -d /run/systemd/system ]]; then
      systemctl stop dovecot.service dovecot.socket 2>/dev/null || true
    fi
  else
    deb-systemd-helper disable dovecot.service dovecot.socket 2>/dev/null || true
    update-rc.d dovecot disable >/dev/null 2>&1 || true
    if [[ -x /etc/init.d/dovecot ]]; then
      /etc/init.d/dovecot stop >/dev/null 2>&1 || true
    fi
  fi
  # Checked, not assumed: a link left in a .wants folder would start the
  # service at the next boot.
  if compgen -G '/etc/systemd/system/*.wants/dovecot*' >/dev/null; then
    echo "deps.sh: Dovecot's system service is still enabled:" /etc/systemd/system/*.wants/dovecot* >&2
    exit 1
  fi
  echo "Dovecot is installed for the tests only; its system service is left disabled and stopped."
fi
