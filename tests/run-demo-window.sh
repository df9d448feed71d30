#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's run command as a new user meets it: scripts/run.sh, as
# written, on an X display of its own with a window manager (Xvfb, openbox).
# The demo window must appear; Connect, pressed with a real key press on that
# window, must log in to the demo mailbox and list it, as the demo's Dovecot
# records in its rawlog; closing the window must end scripts/run.sh and stop
# that Dovecot, leaving no process behind.
#
#   run-demo-window.sh SOURCE-DIR BUILD-DIR VERSION PROBE
#
# BUILD-DIR is the tree scripts/run.sh builds (build/), already built: the
# build step inside scripts/run.sh must then have nothing to do, or it would
# rebuild programs that other tests are running. Prints one line
# "SKIP: reason" where Xvfb, openbox, wmctrl, xdotool or Dovecot is missing.
set -euo pipefail
source_dir=$1
build_dir=$2
version=$3
probe=$4
title="Tarnbeck v$version"

for tool in Xvfb openbox wmctrl xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is missing (the demo runs under Xvfb and openbox, driven by wmctrl and xdotool)"
    exit 0
  fi
done
if ! available=$("$probe" --available); then
  echo "$available"
  exit 0
fi
plan=$(cmake --build "$build_dir" -- -n 2>&1) || true
if ! grep -q 'no work to do' <<<"$plan"; then
  echo "FAIL: $build_dir is not up to date; build it before running the tests:" >&2
  echo "$plan" | head -n 5 >&2
  exit 1
fi

work=$(mktemp -d)
run=
source "$source_dir/scripts/lib/demo-display.sh"
cleanup() {
  if [[ -n $run ]] && kill -0 "$run" 2>/dev/null; then
    # scripts/run.sh runs in a session of its own: the demo, the program.
    kill -TERM -- "-$run" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$run" 2>/dev/null || true
  fi
  display_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  echo "--- scripts/run.sh said:" >&2
  cat "$work/run.log" >&2 || true
  if [[ -n ${server_dir:-} && -f $server_dir/dovecot.log ]]; then
    echo "--- the demo's Dovecot logged:" >&2
    cat "$server_dir/dovecot.log" >&2
  fi
  exit 1
}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# Live (not zombie) processes of a process group, from /proc.
group_members() {
  local file stat rest
  for file in /proc/[0-9]*/stat; do
    { stat=$(<"$file"); } 2>/dev/null || continue
    rest=${stat##*) }
    read -r state _ group _ <<<"$rest"
    [[ $group == "$1" && $state != Z && $state != X ]] && echo "${file//[^0-9]/}"
  done
  return 0
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

display_start "$work" || fail "no X display with a window manager"

# As written in the README; TARNBECK_DEMO_RAWLOG only makes the demo's
# Dovecot log the session.
started=$(now)
TARNBECK_DEMO_RAWLOG=1 setsid "$source_dir/scripts/run.sh" >"$work/run.log" 2>&1 </dev/null &
run=$!

announced() { grep -q '^Demo POP3 server on' "$work/run.log" || ! kill -0 "$run" 2>/dev/null; }
wait_for 1200 announced || fail "no demo server announced within 120 s"
kill -0 "$run" 2>/dev/null || fail "scripts/run.sh ended before the demo started"
port=$(sed -n 's/^Demo POP3 server on 127\.0\.0\.1 port \([0-9]*\),.*/\1/p' "$work/run.log")
server_dir=$(sed -n 's/^Its configuration and log are in \([^,]*\),.*/\1/p' "$work/run.log")
rawlog=$(sed -n "s/.*the sessions' rawlog in \(.*\)\.\$/\1/p" "$work/run.log")
[[ -n $port && -d $server_dir && -d $rawlog ]] || fail "the demo's announcement names no port, server folder and rawlog"
master=$(cat "$server_dir/run/master.pid" 2>/dev/null) || fail "no master.pid in $server_dir/run"
[[ -n $(group_members "$master") ]] || fail "the demo's Dovecot (master $master) does not run"
port_open "$port" || fail "nothing listens on the demo's port $port"
grep -q '^ninja: no work to do' "$work/run.log" || fail "scripts/run.sh rebuilt the tree instead of reusing it"

found=
wait_for 300 eval 'found=$(window_of "$title")' || fail "no window \"$title\" within 30 s of the demo server"
read -r wid pid <<<"$found"
shown=$(since "$started")
# The window is the demo's copy of the program, not the build's.
[[ $(readlink -f "/proc/$pid/exe") == $(readlink -f "$source_dir/build/demo/tarnbeck") ]] ||
  fail "the window belongs to $(readlink -f "/proc/$pid/exe"), not to build/demo/tarnbeck"

# Connect, as a user presses it: Alt+C on the focused window, through the X
# server's keyboard.
xdotool windowactivate --sync "$wid" >/dev/null 2>&1 || fail "cannot activate window $wid"
clicked=$(now)
xdotool key --clearmodifiers alt+c

# From outside the program: Dovecot logged the login, and its rawlog of that
# session holds the LIST the program sent and the whole listing it was sent.
wait_for 200 rawlog_listed "$rawlog" 200 ||
  fail "no LIST answered with the 200 demo messages in the rawlog within 20 s of Alt+C"
listing=$(since "$clicked")
grep -q 'Login: user=<demo>' "$server_dir/dovecot.log" || fail "Dovecot logged no login of user demo"

# Closed the way a user closes it: scripts/run.sh ends, and with it the server.
wmctrl -i -c "$wid"
closed=$(now)
wait_for 150 eval '! kill -0 "$run" 2>/dev/null' || fail "scripts/run.sh still runs 15 s after the window was closed"
status=0
wait "$run" || status=$?
run=
[[ $status == 0 ]] || fail "scripts/run.sh ended with $status"
ended=$(since "$closed")
left=$(group_members "$master")
[[ -z $left ]] || fail "the demo's Dovecot left processes behind: $left"
! port_open "$port" || fail "something still listens on the demo's port $port"
[[ ! -e $server_dir ]] || fail "the demo server's folder $server_dir is left behind"

echo "scripts/run.sh: window after ${shown} s, the 200-message listing ${listing} s after Alt+C," \
  "ended ${ended} s after the window closed; its Dovecot stopped"
