# SPDX-License-Identifier: GPL-3.0-or-later
# Shell helpers for running the demo on an X display of its own, sourced by
# tests/run-demo-window.sh and scripts/screenshot.sh (bash, set -euo pipefail).
#
#   display_start WORK   Xvfb on a free display (1024x768) and openbox on it;
#                        exports DISPLAY and XDG folders inside WORK
#   display_stop         ends both
#   wait_for N CMD...    runs CMD every 0.1 s until it succeeds, N times at most
#   window_of TITLE      "id pid" of the window with exactly that title
#   rawlog_listed DIR N  a session in Dovecot's rawlog DIR sent LIST and got a
#                        listing of N messages
#   rawlog_tops_answered DIR N  a session in the rawlog sent N TOP commands and
#                        has all its replies

display_xvfb=
display_wm=

display_start() {
  local work=$1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>"$work/xvfb.log" &
  display_xvfb=$!
  if ! wait_for 100 grep -q '^[0-9]' "$work/display"; then
    echo "Xvfb named no display: $(cat "$work/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$work/display")"
  unset WAYLAND_DISPLAY XAUTHORITY QT_QPA_PLATFORM
  # The window manager's defaults, not those of whoever runs this.
  mkdir -m 700 "$work/config" "$work/cache" "$work/runtime"
  export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
  openbox --sm-disable >/dev/null 2>"$work/openbox.log" &
  display_wm=$!
  # A loaded machine may take a while.
  if ! wait_for 300 wmctrl -m >/dev/null 2>&1; then
    echo "openbox does not manage $DISPLAY: $(cat "$work/openbox.log")" >&2
    return 1
  fi
}

display_stop() {
  # Either may have ended already.
  if [[ -n $display_wm ]]; then kill "$display_wm" 2>/dev/null || true; fi
  if [[ -n $display_xvfb ]]; then kill "$display_xvfb" 2>/dev/null || true; fi
  display_wm=
  display_xvfb=
}

wait_for() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

window_of() {
  # wmctrl -l -p: id, desktop, pid, host, title.
  wmctrl -l -p 2>/dev/null | awk -v t="$1" '
    { n = $0; for (i = 0; i < 4; i++) sub(/^[^ ]+ +/, "", n) }
    n == t { print $1, $3; found = 1; exit }
    END { exit !found }'
}

# A rawlog file without its time stamps and CRs.
rawlog_plain() { sed -E 's/^[0-9]+\.[0-9]+ //' "$1" | tr -d '\r'; }

rawlog_listed() {
  local in
  for in in "$1"/*.in; do
    [[ -f $in && -f ${in%.in}.out ]] || continue
    rawlog_plain "$in" | grep -qx 'LIST' || continue
    # The status line, one line per message, the end line.
    rawlog_plain "${in%.in}.out" | awk -v n="$2" '
      $0 ~ "^\\+OK " n " messages" { on = 1; rows = 0; next }
      on && /^\.$/ { done = (rows == n); on = 0; next }
      on && /^[0-9]+ [0-9]+$/ { rows++ }
      END { exit !done }' && return 0
  done
  return 1
}

rawlog_tops_answered() {
  local in tops multi ends
  for in in "$1"/*.in; do
    [[ -f $in && -f ${in%.in}.out ]] || continue
    tops=$(rawlog_plain "$in" | grep -c '^TOP ' || true)
    [[ $tops == "$2" ]] || continue
    # Every reply of many lines ends with a line ".", and those commands are
    # answered in order: when the ends match the commands, all are answered.
    multi=$(rawlog_plain "$in" | grep -cE '^(LIST|UIDL|CAPA)$|^(TOP|RETR) ' || true)
    ends=$(rawlog_plain "${in%.in}.out" | grep -cx '\.' || true)
    [[ $ends == "$multi" ]] && return 0
  done
  return 1
}
