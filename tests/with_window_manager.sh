#!/bin/sh
# Runs a command on a throw-away X server (Xvfb) with a window manager that
# frames its windows (openbox), as a desktop has; the offscreen platform of
# the other desktop tests has frames that never move. Exits 77 (skipped)
# when either program is missing; scripts/install-deps.sh installs both.
#
#   with_window_manager.sh COMMAND [ARG...]
set -u
for tool in Xvfb openbox xprop; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"; exit 77; }
done
state=$(mktemp -d)
xvfb=""
wm=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The server picks a free display and writes its number when it is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display" >"$state/xvfb.log" 2>&1 &
xvfb=$!
tries=0
while [ ! -s "$state/display" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
    echo "FAIL: Xvfb did not start"; cat "$state/xvfb.log"; exit 1
  fi
  sleep 0.1
done
DISPLAY=:$(cat "$state/display")
export DISPLAY

openbox >"$state/wm.log" 2>&1 &
wm=$!
# The window manager is up once it names itself on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 "$wm" 2>/dev/null; then
    echo "FAIL: openbox did not start"; cat "$state/wm.log"; exit 1
  fi
  sleep 0.1
done

QT_QPA_PLATFORM=xcb "$@"
rc=$?
exit $rc
