#!/usr/bin/env bash
# Builds the benchmark in Release into build-bench/ and runs it: polling over korvant-sim beside
# mbpoll, start-up, memory and the SetFrm scan, printed as one table (build output goes to stderr).
# --quick polls 3 s a case instead of 30 s. docs/PERFORMANCE.md explains the figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"
"$root/scripts/deps.sh" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" -j"$(nproc)" --target korvant-bench >&2
exec "$build/bench/korvant-bench" "$@"
