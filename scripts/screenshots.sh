#!/usr/bin/env bash
# Makes the README's pictures: runs the program under Xvfb with a window manager and a fresh
# home, lets it import a few dropped files, and photographs the main window and the group editor.
# Usage: scripts/screenshots.sh [build folder]   (needs xvfb, openbox, xdotool, x11-utils, imagemagick, ffmpeg)
# Every wait is bounded; whatever happens, the X server, the window manager and the program are
# stopped and the temporary home removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
program=$build/bin/cartfeeder
[ -x "$program" ] || { echo "build the program first: $program is missing" >&2; exit 1; }
for tool in Xvfb openbox xdotool xprop import convert ffmpeg timeout; do
  command -v "$tool" >/dev/null || { echo "the $tool command is needed" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/cartfeeder-shots.XXXXXX")
xvfb_pid='' wm_pid='' program_pid=''

stop() {
  local pid=$1 waited=0
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt 50 ]; do
    sleep 0.2
    waited=$((waited + 1))
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ $status -ne 0 ] && [ -s "$work/program.log" ]; then
    echo "--- the program's output:" >&2
    tail -n 20 "$work/program.log" >&2
  fi
  # The program first: closing it needs the X server.
  stop "$program_pid"
  stop "$wm_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
  echo "screenshots: $*" >&2
  exit 1
}
# xdotool waits for ever on some replies when a window goes away underneath it.
xdo() { timeout 5 xdotool "$@"; }
# Retries a command every 0.2 s until it succeeds, for at most the given seconds.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_STATE_HOME=$work/home/.local/state XDG_CACHE_HOME=$work/home/.cache
export XDG_RUNTIME_DIR=$work/runtime LANG=C.UTF-8
unset QT_QPA_PLATFORM SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

profile="$XDG_DATA_HOME/Orvane/Cartvault v3/Tools/Cartfeeder/Profiles/Studio"
watch=$work/Jingles
mkdir -p "$profile" "$watch"
cat >"$profile/Importer.ini" <<INI
[General]
NumberGroups=2
CheckInterval=5
[Group1]
Name=Jingles
Directory=$watch
StartHDRef=1000
EndHDRef=1999
Enabled=1
DeleteAfterImport=1
[Group2]
Name=Re-check
StartHDRef=1000
EndHDRef=1999
Enabled=1
RemoveIfDeleted=1
INI
chmod 600 "$profile/Importer.ini"
for file in "1234 Jingle:440" "1235 Station Ident:660" "1300 Morning Promo:550"; do
  timeout 20 ffmpeg -nostdin -v quiet -f lavfi -i "sine=frequency=${file##*:}:duration=3" \
    "$work/${file%%:*}.wav"
done

# -displayfd picks a free display and tells it once the server accepts connections.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_until 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
# The window manager is up once it announces itself on the root window.
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 10 wm_up || fail "openbox did not start"

"$program" /Profile=Studio /NOPREVCHECK >"$work/program.log" 2>&1 &
program_pid=$!

# The splash bears the program's name too: take the window that has the group list's size.
main_window() {
  local id size
  for id in $(xdo search --onlyvisible --name '^Cartfeeder$' 2>/dev/null); do
    size=$(xdo getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: //p')
    [ "${size#*x}" -ge 450 ] 2>/dev/null && { echo "$id"; return 0; }
  done
  return 1
}
window_up() { kill -0 "$program_pid" 2>/dev/null && main_window >/dev/null; }
wait_until 30 window_up || fail "the main window did not appear"
window=$(main_window)

# Drop the files now; the first pass comes one interval after start-up.
mv "$work"/*.wav "$watch/"
folder_empty() { [ -z "$(ls -A "$watch")" ]; }
wait_until 60 folder_empty || fail "the files were not imported: $(ls "$watch")"
# Let the re-check group's pass after the imports and the last history rows through.
sleep 7

mkdir -p "$root/docs"
shoot() {
  timeout 20 import -window "$1" -frame "$work/shot.png" || fail "could not photograph $2"
  # A palette keeps the file small; window colours are few.
  timeout 20 convert "$work/shot.png" -strip -colors 256 "PNG8:$root/docs/$2"
}
xdo windowactivate "$window" >/dev/null 2>&1 || true
sleep 0.5
shoot "$window" main-window.png

# The group editor for the first group: a double click on its row in the group list (the list's
# first row sits there at 96 dpi; the window's size is fixed).
xdo mousemove --window "$window" 150 87 click --repeat 2 --delay 120 1
editor_up() {
  local id
  id=$(xdo getactivewindow 2>/dev/null) || return 1
  [ "$id" != "$window" ] && [ "$(xdo getwindowname "$id" 2>/dev/null)" != Cartfeeder ] &&
    echo "$id"
}
wait_until 10 editor_up >/dev/null || fail "the group editor did not open"
sleep 1
editor=$(editor_up)
shoot "$editor" group-editor.png
xdo key Escape || true
for picture in main-window.png group-editor.png; do
  echo "wrote docs/$picture ($(stat -c %s "$root/docs/$picture") bytes)"
done
