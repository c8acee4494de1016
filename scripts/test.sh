#!/usr/bin/env bash
# Sets up the machine and runs every test: installs the packages, builds, runs the suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
cd "$root/build"
ctest --output-on-failure -j2
