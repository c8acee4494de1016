#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs each for a bounded
# time (FUZZ_SECONDS, 30 by default) from its seed corpus in fuzz/corpus/<target>/. A crash, a
# broken invariant, a leak or an input slower than 10 s fails the run; the input that did it is
# kept as build-fuzz/artifacts/<target>-crash-... for replaying: build-fuzz/<target> FILE.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-30}"
targets=(fuzz_reply fuzz_settings fuzz_numtext fuzz_sim)

cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$build/artifacts" "$build/logs"
passed=0 failed=0
for t in "${targets[@]}"; do
  # New inputs go to a scratch corpus; the seeds in the source tree are only read.
  work="$build/corpus/$t"
  mkdir -p "$work"
  log="$build/logs/$t.log"
  if "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$t-" "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
    passed=$((passed + 1))
    status=ok
  else
    failed=$((failed + 1))
    status=FAILED
    tail -n 40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$t: $status, ${runs:-?} executions in ${seconds}s, corpus $(ls "$work" | wc -l) inputs"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
