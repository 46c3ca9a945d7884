#!/usr/bin/env bash
# Long fuzzing runs that keep what they find. Builds the fuzz targets (clang,
# in build-fuzz/), then runs each target in turn, at the lowest priority, until
# it has made RUNS executions or SECONDS_PER_TARGET have passed, starting from
# and adding to fuzz/corpus/<target>/. The corpus is then minimised (libFuzzer's
# merge keeps the smallest set of inputs with the same coverage); seeds written
# by hand (any name but libFuzzer's 40-digit hashes, regression-* among them)
# are always kept as they are. One summary line per target.
#   fuzz/run-long.sh [SECONDS_PER_TARGET=3600] [RUNS=10000000] [TARGET...]
# Crash inputs land in build-fuzz/long/<target>/; the exit status is 1 if any.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-3600}
runs=${2:-10000000}
# A run at the lowest priority on a busy machine can be held off the processor
# for many seconds; an input counts as hung only well beyond that. A timeout
# is rerun alone before it is taken for a finding (see fuzz/README.md).
per_input=${FUZZ_INPUT_TIMEOUT:-60}
shift $(($# < 2 ? $# : 2))

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDIDIRA_FUZZ=ON -DDIDIRA_TESTS=OFF >/dev/null
if [ $# -gt 0 ]; then
  targets="$*"
else
  targets=$(ninja -C build-fuzz -t targets all | sed -n -E 's/^([A-Za-z0-9_]+_fuzzer): .*/\1/p' |
    grep -v '^cmake_' | sort -u)
fi

status=0
for t in $targets; do
  nice -n 19 ninja -C build-fuzz -j 1 "$t" >/dev/null
  work="build-fuzz/long/$t"
  rm -rf "$work"
  mkdir -p "$work/found" "$work/minimised" "fuzz/corpus/$t"
  start=$(date +%s)
  set +e
  nice -n 19 "build-fuzz/fuzz/$t" -runs="$runs" -max_total_time="$seconds" -timeout="$per_input" \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/found" "fuzz/corpus/$t" >"$work/log" 2>&1
  rc=$?
  set -e
  elapsed=$(($(date +%s) - start))
  execs=$(sed -n -E 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$work/log" | tail -n 1)
  cov=$(grep -E '^#[0-9]+' "$work/log" | tail -n 1 | sed -n -E 's/.*cov: ([0-9]+) ft: ([0-9]+).*/cov \1 ft \2/p')
  crashes=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) | sort)

  # Minimise: the seeds and everything found, merged into an empty directory.
  nice -n 19 "build-fuzz/fuzz/$t" -merge=1 -timeout="$per_input" -rss_limit_mb=2048 "$work/minimised" \
    "fuzz/corpus/$t" "$work/found" >"$work/merge.log" 2>&1 || true
  if [ -n "$(ls -A "$work/minimised")" ]; then
    find "fuzz/corpus/$t" -maxdepth 1 -type f -regextype posix-extended -regex '.*/[0-9a-f]{40}' -delete
    cp "$work/minimised"/* "fuzz/corpus/$t/"
  fi
  size=$(find "fuzz/corpus/$t" -maxdepth 1 -type f | wc -l)

  echo "$t: ${execs:-?} executions in ${elapsed} s, ${cov:-no coverage line}, corpus $size files, exit $rc"
  if [ -n "$crashes" ] || [ "$rc" -ne 0 ]; then
    echo "$t: FINDING (see $work/log):"
    echo "${crashes:-  no artifact}" | sed 's/^/  /'
    status=1
  fi
done
exit "$status"
