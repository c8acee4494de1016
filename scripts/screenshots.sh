#!/usr/bin/env bash
# Retakes the README's screenshots (docs/img/*.png): builds korvant-shoot, which drives the real
# windows against a simulated module, and runs it on a virtual X display (Xvfb) so the pictures
# show the X11 look; without Xvfb it falls back to Qt's offscreen platform.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="$root/docs/img"

"$root/scripts/deps.sh" xvfb xauth
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target korvant-shoot
shoot="$build/tools/korvant-shoot"

# A fixed scale and style, so the pictures do not depend on the desktop this runs from.
export QT_SCALE_FACTOR=1 QT_AUTO_SCREEN_SCALE_FACTOR=0 QT_QPA_PLATFORMTHEME='' QT_STYLE_OVERRIDE=Fusion
if command -v xvfb-run >/dev/null &&
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$shoot" "$out"; then
    echo "Screenshots taken on Xvfb in $out"
else
    echo "Xvfb did not work; taking them on the offscreen platform" >&2
    QT_QPA_PLATFORM=offscreen "$shoot" "$out"
    echo "Screenshots taken offscreen in $out"
fi
