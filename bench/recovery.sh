#!/usr/bin/env bash
# Recovery after a server outage, side by side: Didira's player control,
# mpv and gst-play-1.0 each play the local radio's /mp3; the server is killed
# and, after OUTAGE seconds, started again on the same port. Reported per
# player: what it did (recovered, gave up, ...), the time from the server
# coming back (its mounts answering again) to audio reaching the output again,
# and, for a player that ended, how long after the kill it did so.
#   bench/recovery.sh [OUTAGE_SECONDS=5] [REPETITIONS=2]
# Output: a Markdown table on standard output (copy it into bench/README.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
outage=${1:-5}
reps=${2:-2}
build=${DIDIRA_BUILD_DIR:-$root/build}
wait_after=40 # seconds to wait for audio after the server is back

. "$root/bench/build.sh"
build_bench "$root" "$build" didira_bench

work=$(mktemp -d /tmp/didira-recovery.XXXXXX)
chmod 755 "$work" # the local server reads its files as user nobody
radio="$work/radio"
player_pid=""
cleanup() {
    [ -z "$player_pid" ] || kill "$player_pid" 2>/dev/null || true
    bash "$root/scripts/local-radio.sh" stop "$radio" >/dev/null 2>&1 || true
}
trap cleanup EXIT
port=$(bash "$root/scripts/local-radio.sh" start "$radio" | tail -n 1)
url="http://127.0.0.1:$port/mp3"

now_ms() { date +%s%3N; }

# Prefixes every line (carriage returns count as line ends) with the time in
# ms, as soon as it arrives.
stamp() {
    python3 -u -c '
import os, re, sys, time
rest = b""
while True:
    chunk = os.read(0, 65536)
    if not chunk:
        break
    parts = re.split(rb"[\r\n]", rest + chunk)
    rest = parts.pop()
    now = int(time.time() * 1000)
    for part in parts:
        if part.strip():
            sys.stdout.buffer.write(b"%d %s\n" % (now, part))
    sys.stdout.flush()'
}

# The output line that marks audio reaching each player's output.
marker() {
    case $1 in
    didira) echo 'first-audio' ;;
    gst-play) echo 'last-message = chain' ;;
    mpv) echo 'A: [0-9]' ;;
    esac
}

start_player() { # name log
    case $1 in
    didira)
        DIDIRA_AUDIO_SINK="fakesink sync=true" QT_QPA_PLATFORM=offscreen \
            "$build/bench/didira_bench" "$url" 600 > >(stamp >"$2") 2>&1 &
        ;;
    gst-play)
        gst-play-1.0 -v --no-interactive --audiosink="fakesink sync=true silent=false" "$url" \
            > >(stamp >"$2") 2>&1 &
        ;;
    mpv)
        mpv --no-config --no-video --ao=null --term-status-msg='A: ${=audio-pts}' "$url" \
            > >(stamp >"$2") 2>&1 &
        ;;
    esac
    player_pid=$!
}

# First time in log after t (ms) of a line matching regex; empty if none.
first_after() { # log t regex
    awk -v t="$2" -v re="$3" '$1 > t && $0 ~ re {print $1; exit}' "$1"
}

run() { # name: prints "outcome recovery_ms ended_after_kill_ms"
    local name=$1 log="$work/$1.log" re
    re=$(marker "$name")
    start_player "$name" "$log"
    local deadline=$(($(now_ms) + 20000))
    until grep -qaE "$re" "$log" 2>/dev/null; do
        if [ "$(now_ms)" -gt "$deadline" ]; then
            echo "no-start - -"
            return
        fi
        sleep 0.1
    done
    sleep 3
    local killed back
    killed=$(now_ms)
    bash "$root/scripts/local-radio.sh" stop "$radio" >/dev/null
    sleep "$outage"
    bash "$root/scripts/local-radio.sh" start "$radio" "$port" >/dev/null
    back=$(now_ms)
    local deadline2=$((back + wait_after * 1000)) audio=""
    while [ "$(now_ms)" -lt "$deadline2" ]; do
        audio=$(first_after "$log" "$back" "$re")
        [ -z "$audio" ] || break
        # A player that has ended will not come back.
        kill -0 "$player_pid" 2>/dev/null || break
        sleep 0.1
    done
    local ended="-"
    if ! kill -0 "$player_pid" 2>/dev/null; then
        ended=$(($(tail -n 1 "$log" | awk '{print $1}') - killed))
    fi
    kill "$player_pid" 2>/dev/null || true
    wait "$player_pid" 2>/dev/null || true
    player_pid=""
    if [ -n "$audio" ]; then
        echo "recovered $((audio - back)) $ended"
    elif [ "$ended" != "-" ]; then
        echo "ended - $ended"
    else
        echo "silent - -"
    fi
}

echo "| player | outage (s) | run | outcome | server back to audio (ms) | ended after kill (ms) |"
echo "|---|---|---|---|---|---|"
for player in didira mpv gst-play; do
    for i in $(seq "$reps"); do
        read -r outcome ms ended < <(run "$player")
        echo "| $player | $outage | $i | $outcome | $ms | $ended |"
    done
done
