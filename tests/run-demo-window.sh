#!/usr/bin/env bash
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
xvfb=
wm=
run=
cleanup() {
  if [[ -n $run ]] && kill -0 "$run" 2>/dev/null; then
    # scripts/run.sh runs in a session of its own: the demo, the program.
    kill -TERM -- "-$run" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$run" 2>/dev/null || true
  fi
  [[ -n $wm ]] && kill "$wm" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
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

# Wait up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# A display of its own: Xvfb picks a free number and writes it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
wait_for 100 grep -q '^[0-9]' "$work/display" || fail "Xvfb named no display: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
unset WAYLAND_DISPLAY XAUTHORITY QT_QPA_PLATFORM
# The window manager's defaults, not those of whoever runs the tests.
mkdir -m 700 "$work/config" "$work/cache" "$work/runtime"
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
wait_for 100 wmctrl -m >/dev/null 2>&1 || fail "openbox does not manage $DISPLAY"

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

# wmctrl -l -p: id, desktop, pid, host, title.
window() {
  wmctrl -l -p 2>/dev/null | awk -v t="$title" '
    { n = $0; for (i = 0; i < 4; i++) sub(/^[^ ]+ +/, "", n) }
    n == t { print $1, $3; exit }'
}
found=
wait_for 300 eval 'found=$(window); [[ -n $found ]]' || fail "no window \"$title\" within 30 s of the demo server"
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
# session holds the LIST the program sent and the whole listing it was sent
# (the status line, one line per message, the end line). Rawlog lines start
# with a time stamp.
plain() { sed -E 's/^[0-9]+\.[0-9]+ //' "$1" | tr -d '\r'; }
listed() {
  local in
  for in in "$rawlog"/*.in; do
    [[ -f $in && -f ${in%.in}.out ]] || continue
    plain "$in" | grep -qx 'LIST' || continue
    plain "${in%.in}.out" | awk '
      /^\+OK 200 messages/ { on = 1; rows = 0; next }
      on && /^\.$/ { done = (rows == 200); on = 0; next }
      on && /^[0-9]+ [0-9]+$/ { rows++ }
      END { exit !done }' && return 0
  done
  return 1
}
wait_for 200 listed || fail "no LIST answered with the 200 demo messages in the rawlog within 20 s of Alt+C"
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
