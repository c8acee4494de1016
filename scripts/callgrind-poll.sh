#!/usr/bin/env bash
# Counts the instructions of one polling window under callgrind: korvant-bench --poll-child polls
# MODEL (KV5510ADAM, KV1730ADAM or KV7710ADAM) over korvant-sim at a 500 ms period and 9600 Bd, so
# that every reply is still accepted under valgrind. The counters are zeroed WARMUP seconds after
# the start (the window must be polling by then) and dumped SECONDS later. Prints the child's
# figures, the instructions per exchange (per acquisition tick in the dump) and the inclusive
# share of the functions that matter.
# Usage: scripts/callgrind-poll.sh MODEL [SECONDS] [BUILD] [WARMUP]
#        (SECONDS 28, BUILD build/ (RelWithDebInfo), WARMUP 20)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
model="$1"
seconds="${2:-28}"
build="${3:-$root/build}"
warmup="${4:-20}"
case "$model" in
  KV5510ADAM) number=5510 overtime=6 period=8 ;;
  KV1730ADAM) number=1730 overtime=4 period=5 ;;
  KV7710ADAM) number=7710 overtime=16 period=19 ;;
  *) echo "unknown model $model" >&2; exit 2 ;;
esac
dir="$(mktemp -d /tmp/korvant-callgrind-XXXXXX)"
mkdir -p "$dir/sys" "$dir/runtime"
chmod 700 "$dir/runtime"
printf '1\r\n9600\r\nNone\r\n' >"$dir/sys/set.rc"
lines=(200 500 300 200 500 200 300 500 300 200 500 300 200 300 500 200 200 300 500 500)
lines[$((overtime - 1))]=250
lines[$((period - 1))]=500
for i in "${!lines[@]}"; do printf 'Line %-6d%5d\r\n' $((i + 1)) "${lines[$i]}"; done >"$dir/sys/tm.rc"

"$build/sim/korvant-sim" --dir "$dir" --port 1 --module "$number:1:2" --quiet >"$dir/sim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$dir/sys/COM1" ] && break; sleep 0.1; done

out="$dir/callgrind.out"
env -C "$dir" XDG_RUNTIME_DIR="$dir/runtime" QT_QPA_PLATFORM=offscreen \
  valgrind --tool=callgrind --callgrind-out-file="$out" \
  "$build/bench/korvant-bench" --poll-child "$model" 500 $((seconds + warmup + 4)) >"$dir/poll.out" 2>"$dir/valgrind.log" &
child=$!
sleep "$warmup"
callgrind_control -z "$child" >/dev/null
sleep "$seconds"
callgrind_control -d "$child" >/dev/null
wait "$child"
cat "$dir/poll.out"
dump="$(ls "$out".* | head -1)"
echo "dump: $dump"
report="$dump.txt"
callgrind_annotate --inclusive=yes --threshold=100 "$dump" >"$report" 2>/dev/null
total="$(grep -m1 'PROGRAM TOTALS' "$report" | awk '{gsub(",", "", $1); print $1}')"
callgrind_annotate --tree=caller --threshold=100 "$dump" >"$dump.tree" 2>/dev/null
ticks="$(grep -m1 -oE 'TestWindow::acquisitionTick\(int\) \([0-9]+x\)' "$dump.tree" | grep -oE '[0-9]+x' | tr -d x)"
echo "instructions: $total in $ticks exchanges, $((total / ticks)) an exchange"
for f in 'QWidgetRepaintManager::paintAndFlush()' 'QGroupBox::paintEvent(' 'TestWindow::acquisitionTick(' \
         'TestWindow::judgeRead(' 'QPlainTextEdit::setPlainText(' 'QPlainTextEdit::paintEvent(' \
         'TextBox::setPlainText(' 'TextBox::event(' 'TextBox::paintEvent(' 'QTextEngine::shapeText(' \
         'QTextLine::draw(' 'QLabel::paintEvent(' 'QSocketNotifier::activated(' 'QSerialPort'; do
  line="$(grep -F -m1 "$f" "$report" || true)"
  [ -n "$line" ] && echo "$line" | cut -c1-150
done
