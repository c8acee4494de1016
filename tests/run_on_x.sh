#!/bin/sh
# Runs a test executable on a virtual X server of its own. A window's grab then reads what the X
# server holds, so a paint that reached the window's backing store but never the screen shows.
set -u
dir=$(mktemp -d /tmp/korvant-x.XXXXXX)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$dir"' EXIT
# Xvfb writes its display number once it accepts clients.
tries=0
until [ -s "$dir/display" ] || [ $tries -ge 100 ] || ! kill -0 $xvfb 2>/dev/null; do
  sleep 0.1
  tries=$((tries + 1))
done
[ -s "$dir/display" ] || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
DISPLAY=":$(cat "$dir/display")" QT_QPA_PLATFORM=xcb "$@"
