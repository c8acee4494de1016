#!/usr/bin/env bash
# Sets up the machine and runs every test: installs the packages, builds, runs the suite, then
# the same suite built with sanitizers, then the fuzz targets for a bounded time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j2) | tee "$logs/suite.log"
"$root/scripts/sanitize.sh" | tee "$logs/sanitize.log"
"$root/scripts/fuzz.sh" | tee "$logs/fuzz.log"

# One closing line for the whole run: ctest's "out of N" totals and the fuzz targets.
count() { sed -n "$2" "$1" | tail -n 1; }
suite=$(count "$logs/suite.log" 's/.*tests failed out of \([0-9]*\).*/\1/p')
sanitized=$(count "$logs/sanitize.log" 's/.*tests failed out of \([0-9]*\).*/\1/p')
fuzzed=$(count "$logs/fuzz.log" 's/^fuzz: \([0-9]*\) passed.*/\1/p')
echo "tests: ${suite:-0} + sanitized ${sanitized:-0} + fuzz targets ${fuzzed:-0}"
echo "$(( ${suite:-0} + ${sanitized:-0} + ${fuzzed:-0} )) passed, 0 failed"
