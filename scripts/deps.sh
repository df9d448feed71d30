#!/usr/bin/env bash
# Installs what building and testing Tarnbeck needs on Debian 12: with apt-get
# when run as root, otherwise it prints the apt-get line to run and fails.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  fonts-liberation fonts-dejavu-core
)
if [[ "${TARNBECK_WITH_SERVER:-0}" == 1 ]]; then
  packages+=(dovecot-core dovecot-pop3d openssl)
fi
if [[ "${TARNBECK_WITH_X11:-0}" == 1 ]]; then
  # A virtual X server and a window manager to run the program in.
  packages+=(xvfb openbox wmctrl x11-utils)
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
# Dovecot's package scripts try to start the system service; that is not
# needed (the tests start their own instance) and fails in containers.
$line -qq
