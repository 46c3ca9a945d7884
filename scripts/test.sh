#!/usr/bin/env bash
# Sets up, builds and runs every test of Didira: a build with warnings as
# errors, the same tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# and each fuzz target for a short fixed time. Each stage prints its time.
# The tests mostly wait on streams that play in real time, so the next build
# (sanitizer, then fuzzer) goes on beside them at the lowest priority, leaving
# the processor to the tests whenever they want it; only those that measure
# gaps of a few milliseconds in the output (label "gaps") run first, alone.
#   SKIP_ASAN=1 / SKIP_FUZZ=1 leave those stages out; FUZZ_SECONDS sets the time
#   per target; CTEST_JOBS how many tests run at once (each has its own ports,
#   bus and directories).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=${JOBS:-$(nproc)}
passed=0
failed=0

stage() { # name: ends the stage before, if any, with its time
  [ -n "${stage_name:-}" ] && echo "== $stage_name: $((SECONDS - stage_start)) s =="
  stage_name=$1
  stage_start=$SECONDS
  [ -n "$1" ] && echo "== $1 =="
  return 0
}

run_ctest() { # build-dir [ctest options]
  local log dir=$1
  shift
  log=$(mktemp)
  set +e
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "${CTEST_JOBS:-2}" "$@" 2>&1 |
    tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif [ "$rc" -ne 0 ]; then
    failed=$((failed + 1))
  fi
  rm -f "$log"
  return "$rc"
}

status=0
# Line tables are all a failure's backtrace needs; fuller debug information
# costs a fifth of the compile time.
lean_debug=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_DEBUG=-g1
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_DEBUG=-g1)
fuzz=
if [ -z "${SKIP_FUZZ:-}" ] && ls fuzz/*_fuzzer.cpp >/dev/null 2>&1; then
  fuzz=1
fi

beside_pid=
beside() { # name log command...: runs the command at the lowest priority, in the background
  local name=$1 log=$2
  shift 2
  mkdir -p "$(dirname "$log")"
  echo "($name goes on beside, logged in $log)"
  (
    renice -n 19 -p "$BASHPID" >/dev/null
    "$@"
  ) >"$log" 2>&1 &
  beside_pid=$!
  beside_name=$name
  beside_log=$log
}
beside_wait() { # waits for the background build; false (with its log's end) when it failed
  [ -n "$beside_pid" ] || return 0
  local rc=0
  wait "$beside_pid" || rc=$?
  beside_pid=
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$beside_log"
    echo "$beside_name: FAILED"
    failed=$((failed + 1))
    status=1
  fi
  return "$rc"
}

# shellcheck disable=SC2317 # called through beside
asan_build() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDIDIRA_WERROR=ON -DDIDIRA_SANITIZE=ON \
    "${lean_debug[@]}" &&
    ninja -C build-asan -j "$jobs"
}
# shellcheck disable=SC2317 # called through beside
fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDIDIRA_FUZZ=ON -DDIDIRA_TESTS=OFF "${lean_debug[@]}" || return
  # CMake's own phony targets (cmake_object_order_depends_target_*) also end
  # in _fuzzer; only real executables are built and run.
  ninja -C build-fuzz -t targets all | sed -n -E 's/^([A-Za-z0-9_]+_fuzzer): .*/\1/p' |
    grep -v '^cmake_' | sort -u >build-fuzz/targets
  # shellcheck disable=SC2046
  ninja -C build-fuzz -j "$jobs" $(cat build-fuzz/targets)
}

stage "setup (packages)"
bash scripts/setup.sh
bash scripts/check-test-programs.sh
stage "build (warnings as errors)"
cmake -S . -B build-ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIDIRA_WERROR=ON "${lean_debug[@]}"
ninja -C build-ci -j "$jobs"
stage "tests"
# The gap-measuring tests time the output of a shared machine: one that
# fails is run once more, and fails the run only if it fails again.
run_ctest build-ci -L gaps --repeat until-pass:2 || status=1
if [ -z "${SKIP_ASAN:-}" ]; then
  beside "build under ASan + UBSan" build-asan/build.log asan_build
elif [ -n "$fuzz" ]; then
  beside "fuzzer build" build-fuzz/build.log fuzz_build
fi
run_ctest build-ci -LE gaps || status=1

if [ -z "${SKIP_ASAN:-}" ]; then
  stage "build under ASan + UBSan (what is left of it)"
  asan_built=1
  beside_wait || asan_built=
  stage "tests under ASan + UBSan"
  # Reruns of a suite in another locale or a fresh process, and the install
  # checks, add no code of ours to a sanitizer run: left out.
  # Leak reports from the system's GL, font and media libraries are not ours;
  # memory errors and undefined behaviour fail the run.
  asan=detect_leaks=0:abort_on_error=1:strict_string_checks=1
  ubsan=print_stacktrace=1:halt_on_error=1
  if [ -n "$asan_built" ]; then
    ASAN_OPTIONS=$asan UBSAN_OPTIONS=$ubsan run_ctest build-asan -L gaps -LE "rerun|install" \
      --repeat until-pass:2 ||
      status=1
  fi
  [ -n "$fuzz" ] && beside "fuzzer build" build-fuzz/build.log fuzz_build
  if [ -n "$asan_built" ]; then
    ASAN_OPTIONS=$asan UBSAN_OPTIONS=$ubsan run_ctest build-asan -LE "gaps|rerun|install" ||
      status=1
  fi
fi

if [ -n "$fuzz" ]; then
  stage "fuzzing"
  fuzz_built=1
  beside_wait || fuzz_built=
  [ -n "$fuzz_built" ] && targets=$(cat build-fuzz/targets) || targets=
  # Each fuzzer uses one core: as many run at once as there are jobs.
  fuzz_one() { # target
    local t=$1 corpus="build-fuzz/corpus-$1" seeds=()
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
    "build-fuzz/fuzz/$t" -max_total_time="${FUZZ_SECONDS:-30}" -timeout=10 -rss_limit_mb=2048 \
      "$corpus" "${seeds[@]}" >"build-fuzz/$t.log" 2>&1
  }
  pids=()
  names=()
  fuzz_wait() { # reports the running batch
    local i
    for i in "${!pids[@]}"; do
      if wait "${pids[$i]}"; then
        echo "fuzz ${names[$i]}: no crash in ${FUZZ_SECONDS:-30} s"
        passed=$((passed + 1))
      else
        tail -n 40 "build-fuzz/${names[$i]}.log"
        echo "fuzz ${names[$i]}: FAILED"
        failed=$((failed + 1))
        status=1
      fi
    done
    pids=()
    names=()
  }
  for t in $targets; do
    fuzz_one "$t" &
    pids+=($!)
    names+=("$t")
    [ "${#pids[@]}" -lt "$jobs" ] || fuzz_wait
  done
  fuzz_wait
fi
stage ""
echo "$passed passed, $failed failed"
exit "$status"
