#!/usr/bin/env bash
# Side-by-side measurements of Didira's player control and two peers from
# Debian (gst-launch-1.0 playbin, ffplay -nodisp) on the local radio:
# time from start to the first decoded audio, CPU and peak memory while
# playing. Not part of the tests.
#   bench/run-bench.sh [SECONDS_PER_RUN] [REPETITIONS]
# Output: a Markdown table on standard output (copy it into bench/README.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-15}
reps=${2:-3}
build=${DIDIRA_BUILD_DIR:-$root/build}

. "$root/bench/build.sh"
build_bench "$root" "$build" didira_bench

work=$(mktemp -d /tmp/didira-bench.XXXXXX)
chmod 755 "$work" # the local server reads its files as user nobody
cleanup() { bash "$root/scripts/local-radio.sh" stop "$work/radio" || true; }
trap cleanup EXIT
port=$(bash "$root/scripts/local-radio.sh" start "$work/radio" | tail -n 1)
tick=$(getconf CLK_TCK)

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# measure MARKER-REGEX COMMAND...: runs COMMAND, waits for a line of its
# output matching MARKER (the first decoded audio), then samples CPU time and
# peak RSS over the run. Prints "first_ms cpu_percent peak_rss_kib".
measure() {
    local marker=$1
    shift
    local log="$work/out.log" start first="" pid
    : >"$log"
    start=$(now_ms)
    "$@" >"$log" 2>&1 &
    pid=$!
    local deadline=$((start + 20000))
    while [ -z "$first" ] && [ "$(now_ms)" -lt "$deadline" ]; do
        if grep -qaE "$marker" "$log"; then
            first=$(($(now_ms) - start))
        else
            sleep 0.01
        fi
    done
    local t0 c0 c1 t1
    t0=$(now_ms)
    c0=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    sleep "$seconds"
    c1=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    t1=$(now_ms)
    local rss
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    local cpu
    cpu=$(awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) -v k="$tick" 'BEGIN {printf "%.1f", 100 * c / k / (t / 1000)}')
    echo "${first:-none} $cpu $rss"
}

run_player() { # player url
    case $1 in
    didira)
        DIDIRA_AUDIO_SINK="fakesink sync=true" QT_QPA_PLATFORM=offscreen \
            measure 'first-audio' "$build/bench/didira_bench" "$2" $((seconds + 30))
        ;;
    gst-launch)
        measure 'last-message = chain' gst-launch-1.0 -v playbin uri="$2" \
            audio-sink="fakesink sync=true silent=false" video-sink=fakesink
        ;;
    ffplay)
        # SDL's dummy audio driver consumes audio in real time without a device.
        SDL_AUDIODRIVER=dummy measure 'M-A:' ffplay -nodisp -stats -hide_banner "$2"
        ;;
    esac
}

echo "| stream | player | first audio (ms), each run | median | CPU % while playing | peak RSS (MiB) |"
echo "|---|---|---|---|---|---|"
for mount in mp3 ogg; do
    url="http://127.0.0.1:$port/$mount"
    for player in didira gst-launch ffplay; do
        firsts=() cpus=() rsss=()
        for _ in $(seq "$reps"); do
            read -r f c r < <(run_player "$player" "$url")
            firsts+=("$f") cpus+=("$c") rsss+=("$r")
        done
        median=$(printf '%s\n' "${firsts[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
        cpu=$(printf '%s\n' "${cpus[@]}" | awk '{s+=$1} END {printf "%.1f", s/NR}')
        rss=$(printf '%s\n' "${rsss[@]}" | awk '{if ($1>m) m=$1} END {printf "%.1f", m/1024}')
        echo "| /$mount | $player | ${firsts[*]} | $median | $cpu | $rss |"
    done
done
