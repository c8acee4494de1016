#!/usr/bin/env bash
# Builds the tool and every test with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or the folder given as $1) and runs the suite there. A sanitizer report makes
# its test fail, and so this script.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-asan}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKORVANT_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# The soak, which judges resident-memory growth, is korvant-soak beside the benchmark, not a test.
ctest --output-on-failure -j2
