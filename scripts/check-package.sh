#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Debian package as a new user would meet it, on a Debian 12 root
# (a fresh one, or this machine): installs it with apt-get, starts the
# installed program as an ordinary user under Xvfb with a window manager,
# closes it through the window manager, and checks where its settings went:
#
# - an installed copy saves them in ~/.config/Tarnbeck/Tarnbeck.ini (file
#   0600, folder 0700), nothing next to /usr/bin/tarnbeck, and restores them
#   on the next start;
# - a portable copy (the same executable copied into a read-only folder that
#   holds its Tarnbeck.ini) keeps using that file.
#
# Then it removes the package and the user it made (--keep leaves both).
#
#   scripts/check-package.sh [--keep] [tarnbeck_*.deb]
#
# Without a package it builds one with scripts/package.sh. Not part of
# scripts/test.sh: it installs packages system-wide.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keep=0
if [[ "${1:-}" == --keep ]]; then keep=1; shift; fi
if [[ $(id -u) -ne 0 ]]; then
  echo "Run as root: it installs the package with apt-get." >&2
  exit 1
fi
deb=${1:-}
if [[ -z "$deb" ]]; then
  deb=$("$root/scripts/package.sh" | tail -n 1)
fi
deb=$(realpath "$deb")
# The caption carries the version the build was configured with: its configure
# step writes it next to the package (version.txt in the build tree). A
# package from elsewhere says it in its control file.
if [[ -f $(dirname "$deb")/version.txt ]]; then
  version=$(<"$(dirname "$deb")/version.txt")
else
  version=$(dpkg-deb --field "$deb" Version)
fi
user=tarnbeck-check
fail() { echo "FAIL: $*" >&2; exit 1; }

export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 update -qq
# What the check itself needs: a display and a window manager that closes
# the window the way a user does.
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends xvfb xauth openbox wmctrl >/dev/null
echo "Installing $deb"
apt-get -o DPkg::Lock::Timeout=300 install -y -qq "$deb" >/dev/null
cleanup() {
  if [[ $keep == 0 ]]; then
    apt-get -o DPkg::Lock::Timeout=300 remove -y -qq tarnbeck >/dev/null || true
    userdel -r "$user" 2>/dev/null || true
  fi
}
trap cleanup EXIT

[[ $(command -v tarnbeck) == /usr/bin/tarnbeck ]] || fail "tarnbeck is not on the PATH as /usr/bin/tarnbeck"
for f in /usr/share/applications/org.tarnbeck.Tarnbeck.desktop \
         /usr/share/metainfo/org.tarnbeck.Tarnbeck.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/org.tarnbeck.Tarnbeck.svg \
         /usr/share/icons/hicolor/48x48/apps/org.tarnbeck.Tarnbeck.png; do
  [[ -f $f ]] || fail "$f is missing"
done

id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)

# Starts the given program as the user, waits for its window, closes it
# through the window manager and waits for it to exit.
run_once() {
  runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" bash -c '
      title="Tarnbeck v$2"
      XDG_RUNTIME_DIR=$(mktemp -d); export XDG_RUNTIME_DIR
      openbox >/dev/null 2>&1 & wm=$!
      for _ in $(seq 300); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
      wmctrl -m >/dev/null 2>&1 || { echo "the window manager did not start" >&2; exit 1; }
      "$1" & app=$!
      shown=0
      for _ in $(seq 600); do
        # wmctrl -l: id, desktop, host, title.
        if wmctrl -l 2>/dev/null | sed "s/^[^ ]* *[^ ]* *[^ ]* //" | grep -qxF "$title"; then shown=1; break; fi
        kill -0 $app 2>/dev/null || break
        sleep 0.1
      done
      exited=0
      if [[ $shown == 1 ]]; then
        sleep 0.5
        wmctrl -F -c "$title"
        # A message box at exit (settings not saved) would keep it open.
        for _ in $(seq 100); do kill -0 $app 2>/dev/null || { exited=1; break; }; sleep 0.1; done
        [[ $exited == 1 ]] || echo "it did not exit within 10 s of closing its window" >&2
      else
        echo "the window never appeared" >&2
      fi
      [[ $exited == 1 ]] || kill $app 2>/dev/null
      rc=0; wait $app || rc=$?
      [[ $exited == 1 ]] || rc=1
      kill $wm 2>/dev/null
      [[ $shown == 1 && $rc == 0 ]]' run_once "$1" "$version"
}

config="$home/.config/Tarnbeck"
ini="$config/Tarnbeck.ini"
rm -rf "$config"

echo "Installed copy, first start"
run_once /usr/bin/tarnbeck || fail "the installed program did not start and close cleanly"
[[ -f $ini ]] || fail "no settings saved in $ini"
[[ ! -e /usr/bin/Tarnbeck.ini ]] || fail "settings written next to /usr/bin/tarnbeck"
[[ $(stat -c %a "$ini") == 600 ]] || fail "$ini has mode $(stat -c %a "$ini"), not 600"
[[ $(stat -c %a "$config") == 700 ]] || fail "$config has mode $(stat -c %a "$config"), not 700"
[[ $(stat -c %U "$ini") == "$user" ]] || fail "$ini does not belong to $user"
grep -q '^Width=' "$ini" || fail "$ini holds no window size"

echo "Installed copy, second start: the settings come back"
sed -i 's/^UserID=.*/UserID=check.user/' "$ini"
chmod 644 "$ini"
run_once /usr/bin/tarnbeck || fail "the second start failed"
grep -q '^UserID=check.user' "$ini" || fail "the user id was not restored and saved again"
[[ $(stat -c %a "$ini") == 600 ]] || fail "a save left $ini readable by others"

echo "Portable copy with its own Tarnbeck.ini in a read-only folder"
portable="$home/portable"
rm -rf "$portable"
runuser -u "$user" -- mkdir "$portable"
install -o "$user" -m 755 /usr/bin/tarnbeck "$portable/tarnbeck"
printf '[Default]\r\nUserID=portable.user\r\n' >"$portable/Tarnbeck.ini"
chown "$user" "$portable/Tarnbeck.ini"
chmod 600 "$portable/Tarnbeck.ini"
chmod 555 "$portable"
run_once "$portable/tarnbeck" || fail "the portable copy failed"
grep -q '^UserID=portable.user' "$portable/Tarnbeck.ini" || fail "the portable copy lost its user id"
grep -q '^Width=' "$portable/Tarnbeck.ini" || fail "the portable copy did not save into its own file"
grep -q '^UserID=check.user' "$ini" || fail "the portable copy touched the installed copy's settings"
chmod 755 "$portable"

echo "OK: $(basename "$deb") installs with apt-get, starts as $user, keeps its settings in $ini"
