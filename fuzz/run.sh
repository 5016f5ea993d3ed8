#!/usr/bin/env bash
# Builds the fuzz preset and runs every harness, one after another (one
# core), for SECONDS_PER_HARNESS seconds each (default 60), with the
# dictionary, the generated seeds and the committed corpus. New inputs are
# kept in build/fuzz/corpus/<harness>/ for the next run; a crashing input
# lands in build/fuzz/crashes/<harness>/. Prints per harness the executions,
# the coverage reached (cov: edges, ft: features) and the crashes, and
# exits non-zero when any harness crashed.
#
#   fuzz/run.sh [SECONDS_PER_HARNESS] [HARNESS...]
#
# Every crash becomes a regression file in fuzz/corpus/<harness>/ (replayed
# by the ordinary tests) once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
case "$seconds" in '' | *[!0-9]*) echo "usage: fuzz/run.sh [SECONDS_PER_HARNESS] [HARNESS...]" >&2; exit 64 ;; esac

build=build/fuzz
# Warnings are errors in the gcc presets that build the same sources; clang
# here only needs to produce the fuzz targets.
cmake --preset fuzz -DPAK_WERROR=OFF >/dev/null
cmake --build --preset fuzz >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }

if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for binary in "$build"/fuzz/fuzz_*; do
    name=${binary##*/fuzz_}
    [ "$name" = make_seeds ] && continue
    [ -x "$binary" ] && harnesses+=("$name")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
crashed=0
total=0
began=$SECONDS
printf '%-18s %12s %8s %8s %8s %s\n' harness executions cov ft crashes seconds
for name in "${harnesses[@]}"; do
  work=$build/corpus/$name
  crashes=$build/crashes/$name
  log=$build/logs/$name.log
  mkdir -p "$work" "$crashes" "$build/logs"
  inputs=("$work" "$build/fuzz/seeds/$name")
  [ -d "fuzz/corpus/$name" ] && inputs+=("fuzz/corpus/$name")
  before=$(find "$crashes" -type f | wc -l)
  started=$SECONDS
  status=0
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -dict=fuzz/pak.dict -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$crashes/" "${inputs[@]}" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1 || true)
  cov=$(echo "$coverage" | awk '{print $2}')
  ft=$(echo "$coverage" | awk '{print $4}')
  found=$(( $(find "$crashes" -type f | wc -l) - before ))
  if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi
  printf '%-18s %12s %8s %8s %8s %s\n' "$name" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$found" $((SECONDS - started))
  total=$((total + ${executions:-0}))
  if [ "$found" -ne 0 ]; then
    failed=1
    crashed=$((crashed + 1))
    echo "  $name crashed; log: $log; inputs: $crashes/" >&2
    grep -m 5 -E 'ERROR|check failed|runtime error|SUMMARY' "$log" | sed 's/^/  /' >&2 || true
  fi
done
echo "total executions: $total in $((SECONDS - began)) s"
echo "fuzz: $(( ${#harnesses[@]} - crashed )) passed, $crashed failed"
exit $failed
