#!/usr/bin/env bash
# Sets up, builds and starts the tool on a simulated module bus: a generic module at address 1,
# 9600 baud, no parity, on COM1. The tool runs in run/, which holds its own sys/ folder (seeded
# from the shipped one, never overwritten), and the simulator stops when the tool exits.
# --bus starts a bus of five modules instead, for the Bus Finder (Ctrl+B in the main window):
# four at 9600,None (two of them sharing address 17) and one at 19200,Even.
set -euo pipefail
modules=(--module generic)
if [ "${1:-}" = "--bus" ]; then
  modules=(--module 5510:17:2 --module 5530:17:2 --module 1730:128:2 --module 5540:251:2 --module 7710:90:7)
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
work="$root/run"
mkdir -p "$work/sys"
for f in kv.ico set.rc tm.rc; do
  [ -e "$work/sys/$f" ] || cp "$root/sys/$f" "$work/sys/$f"
done
"$root/build/sim/korvant-sim" --dir "$work" --port 1 "${modules[@]}" --quiet &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$work/sys/COM1" ] && break; sleep 0.1; done
cd "$work"
"$root/build/app/korvant-debug"
