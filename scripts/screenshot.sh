#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates docs/screenshot.png, the README's picture, from the real
# program: the demo mailbox (tarnbeck-demo, as scripts/run.sh opens it)
# connected, the headers of every message fetched and shown decoded, and the
# spam among the first rows checked, under Xvfb and openbox so the window
# frame shows. The program is driven the way a user drives it, with key
# presses and clicks through the X server (xdotool).
#
#   scripts/screenshot.sh [OUTPUT.png]      default docs/screenshot.png
#
# Look at the picture before committing it. The clicks are at the window's
# layout positions for the demo's first window size; after a layout change,
# check them against the picture.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
output=$(realpath -m "${1:-$root/docs/screenshot.png}")
TARNBECK_WITH_SERVER=1 TARNBECK_WITH_X11=1 TARNBECK_WITH_SCREENSHOT=1 "$root/scripts/deps.sh"
"$root/scripts/build.sh" default
bin="$root/build/bin"
version=$(<"$root/build/version.txt")
title="Tarnbeck v$version"

work=$(mktemp -d)
demo=
source "$root/scripts/lib/demo-display.sh"
cleanup() {
  if [[ -n $demo ]] && kill -0 "$demo" 2>/dev/null; then
    kill -TERM "$demo" 2>/dev/null || true
    wait "$demo" 2>/dev/null || true
  fi
  display_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
  echo "screenshot.sh: $*" >&2
  cat "$work/demo.log" >&2 2>/dev/null || true
  exit 1
}

display_start "$work" || fail "no X display with a window manager"

# A demo folder of its own: the window opens at the demo's first size, so the
# positions below hold, and build/demo keeps its settings.
TARNBECK_DEMO_RAWLOG=1 "$bin/tarnbeck-demo" "$bin/tarnbeck" "$work/demo" >"$work/demo.log" 2>&1 &
demo=$!
found=
wait_for 300 eval 'found=$(window_of "$title")' || fail "no window \"$title\" within 30 s"
read -r wid _ <<<"$found"
server_dir=$(sed -n 's/^Its configuration and log are in \([^,]*\),.*/\1/p' "$work/demo.log")
rawlog=$(sed -n "s/.*the sessions' rawlog in \(.*\)\.\$/\1/p" "$work/demo.log")
[[ -d $server_dir && -d $rawlog ]] || fail "the demo names no server folder and rawlog"
count=$(ls "$server_dir/Maildir/cur" | wc -l)
# The spam among the rows on show: message n is the n-th file of the demo's
# maildir (the generator names them in order), and the generator's spam
# offers a link to click.example.
spam=()
n=0
for file in $(ls "$server_dir/Maildir/cur" | sort); do
  n=$((n + 1))
  ((n <= 18)) || break
  grep -q '\.click\.example/offer' "$server_dir/Maildir/cur/$file" && spam+=("$n")
done
((${#spam[@]} > 0)) || fail "no spam among the first rows of the demo mailbox"

# Positions inside the window (its client area), from the layout.
click() { xdotool mousemove --window "$wid" "$1" "$2" click "${3:-1}"; sleep 0.3; }
all_box=(93 425)      # "All" below the list
get_header=(469 425)  # "Get Header"
first_check=(11 127)  # the check box of the list's first row
row_height=14
subject_cell=(150 127)

xdotool windowactivate --sync "$wid" >/dev/null
# Connect.
xdotool key --clearmodifiers alt+c
wait_for 200 rawlog_listed "$rawlog" "$count" || fail "Connect did not list the $count messages"
sleep 0.5

# Decode Headers, from the list's context menu (opened on the first spam row,
# which stays selected).
click "${subject_cell[0]}" $((subject_cell[1] + (spam[0] - 1) * row_height)) 3
xdotool key d
sleep 0.3
# Every message checked and their headers fetched; the batch takes the
# checks off when it is done.
click "${all_box[@]}"
click "${get_header[@]}"
wait_for 300 rawlog_tops_answered "$rawlog" "$count" || fail "Get Header did not fetch the $count headers"
sleep 1
# The spam rows checked.
for row in "${spam[@]}"; do
  click "${first_check[0]}" $((first_check[1] + (row - 1) * row_height))
done
# The pointer off the window, so no button shows its hover look.
xdotool mousemove 1020 760
sleep 0.5

mkdir -p "$(dirname "$output")"
import -window "$wid" -frame "$output"

wmctrl -i -c "$wid"
wait_for 100 eval '! kill -0 "$demo" 2>/dev/null' || fail "the demo did not end after its window closed"
wait "$demo" || fail "the demo ended with an error"
demo=
grep -q '^DecodeHeaders=1' "$work/demo/Tarnbeck.ini" || fail "Decode Headers was not on"
echo "$output: $(identify -format '%wx%h' "$output"), rows ${spam[*]} checked"
