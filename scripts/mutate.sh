#!/usr/bin/env bash
# Mutation testing of the product lines changed since a revision (default eaa68cd): each mutant
# planted alone in a scratch copy of the tree, built there and tested with ctest (without the
# tests labelled slow or package); a report of which test killed it or that it survived.
#   scripts/mutate.sh --only 'core/trend.*' --max 40 --seed 1 [--since REV] [--work DIR] [--list]
# scripts/mutate.py --help lists every option. Not part of .ci/run: about half a minute a mutant.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# The shared compiler cache keeps the scratch build cheap where it exists.
if [ -f /work/wt/env.sh ]; then . /work/wt/env.sh; fi
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(--launcher ccache); fi
# Debian's interpreter, not whichever python3 comes first on PATH.
exec /usr/bin/python3 "$root/scripts/mutate.py" "${launcher[@]}" "$@"
