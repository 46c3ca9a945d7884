#!/usr/bin/env bash
# What a listener perceives, for Didira and peer players side by side on the
# local radio: each plays to a private sound server's null sink, and
# didira_listen records the sink's monitor to find the first audible sample of
# the station's tone, the longest silence while playing, CPU while playing and
# peak memory. Not part of the tests.
#   bench/run-bench.sh [SECONDS_PER_RUN=10] [REPETITIONS=3]
#   STREAMS="mp3 aac ..."   stations to measure (default: all)
#   PLAYERS="didira dialog gst-play mpv ffplay"   players to measure
#   KILLED_CLIENT=1   each run starts just after another program's sound
#                     stream was killed (paplay of a tone, SIGKILL after
#                     1.5 s), and the recorder leaves the sound server's
#                     latency as it is (didira_listen --latency-ms 2000, as
#                     a loudspeaker would): a second table gives each run's
#                     longest silence after the first sound and where it
#                     began. First audible then comes in steps of 2 s.
# Output: a Markdown table on standard output (copy it into bench/README.md);
# every single measurement goes to $BENCH_LOG (default: a file in the work dir).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
reps=${2:-3}
build=${DIDIRA_BUILD_DIR:-$root/build}
all_streams="mp3 aac vorbis ogg flac hls-ts hls-fmp4 hls-master"
streams=${STREAMS:-$all_streams}
players=${PLAYERS:-didira dialog gst-play mpv ffplay}

bash "$root/scripts/setup.sh" --bench >&2
. "$root/bench/build.sh"
build_bench "$root" "$build" didira_bench didira_dialog_bench didira_listen

work=$(mktemp -d /tmp/didira-bench.XXXXXX)
chmod 755 "$work" # the local server reads its files as user nobody
log=${BENCH_LOG:-$work/measurements.log}
pulse_pid=""
cleanup() {
    bash "$root/scripts/local-radio.sh" stop "$work/radio" || true
    [ -z "$pulse_pid" ] || kill "$pulse_pid" 2>/dev/null || true
}
trap cleanup EXIT
port=$(bash "$root/scripts/local-radio.sh" start "$work/radio" | tail -n 1)
base="http://127.0.0.1:$port"

. "$root/bench/pulse.sh"
start_private_pulse "$work"
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
pactl info >/dev/null

# The tone of each station (scripts/local-radio.sh) and its address.
freq_of() {
    case $1 in
    mp3) echo 440 ;; ogg) echo 550 ;; aac) echo 660 ;; vorbis) echo 770 ;; flac) echo 880 ;;
    hls-ts) echo 990 ;; hls-fmp4) echo 1100 ;; hls-master) echo 1210 ;; wav) echo 1320 ;;
    esac
}
url_of() {
    case $1 in
    hls-ts | hls-fmp4) echo "$base/$1/live.m3u8" ;;
    hls-master) echo "$base/$1/master.m3u8" ;;
    *) echo "$base/$1" ;;
    esac
}
row_of() { # the station's row in the dialog's list (all stations, in order)
    local i=0 s
    for s in $all_streams; do
        [ "$s" = "$1" ] && echo $i && return
        i=$((i + 1))
    done
}

# The dialog's catalogue: every station, numbered as in the list.
mkdir -p "$work/dialog"
i=1
for s in $all_streams; do
    printf '%d,Local %s,%s\r\n' "$i" "$s" "$(url_of "$s")" >>"$work/dialog/radioname.csv"
    i=$((i + 1))
done
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=$(freq_of wav):sample_rate=48000:duration=$((seconds + 5))" \
    -ac 2 "$work/tone.wav"

listen_opts=()
[ -z "${KILLED_CLIENT:-}" ] || listen_opts=(--latency-ms 2000)
listen() { "$build/bench/didira_listen" "${listen_opts[@]}" "$@"; }

# Another program plays, and is killed just before the player starts.
kill_client() {
    paplay "$work/tone.wav" &
    local pid=$!
    sleep 1.5
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
}

# One run of a player on a station; prints the listener's line.
run_once() { # player stream
    local player=$1 stream=$2 f u
    # A random pause first: a run would otherwise start in step with the
    # last one's end, and so with the stations' Ogg pages (about 1 s apart)
    # and HLS segments, always at the same point of their cycle for a player.
    sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
    f=$(freq_of "$stream")
    u=$(url_of "$stream")
    [ -z "${KILLED_CLIENT:-}" ] || kill_client
    case $player in
    didira)
        QT_QPA_PLATFORM=offscreen listen --freq "$f" --seconds "$seconds" -- \
            "$build/bench/didira_bench" "$u" $((seconds + 60))
        ;;
    dialog)
        # "Recieve" from idle, a switch to another station, and a switch back
        # to this one while the other plays.
        local other=mp3
        [ "$stream" != mp3 ] || other=aac
        (cd "$work/dialog" && QT_QPA_PLATFORM=offscreen listen --wait-exit -- \
            "$build/bench/didira_dialog_bench" idle:1 \
            "$(row_of "$stream"):$f:4" "$(row_of $other):$(freq_of $other):4" \
            "$(row_of "$stream"):$f:$seconds")
        ;;
    gst-play) listen --freq "$f" --seconds "$seconds" -- gst-play-1.0 --no-interactive "$u" ;;
    mpv)
        listen --freq "$f" --seconds "$seconds" -- mpv --no-config --no-video --ao=pulse \
            --really-quiet "$u"
        ;;
    ffplay)
        SDL_AUDIODRIVER=pulseaudio listen --freq "$f" --seconds "$seconds" -- \
            ffplay -nodisp -hide_banner -loglevel error "$u"
        ;;
    paplay) listen --freq "$f" --seconds "$seconds" -- paplay "$work/tone.wav" ;;
    idle)
        (cd "$work/dialog" && QT_QPA_PLATFORM=offscreen listen --wait-exit --idle-from 3000 \
            --seconds "$seconds" -- "$build/bench/didira_dialog_bench" idle:$((seconds + 4)))
        ;;
    esac
}

field() { # line name
    echo "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k {print $2}'
}
median() { # values ("none" sorts last)
    printf '%s\n' "$@" | sed 's/^none$/999999/' | sort -n |
        awk '{a[NR]=$1} END {m=a[int((NR+1)/2)]; print (m==999999 ? "none" : m)}'
}
maxof() { printf '%s\n' "$@" | grep -v none | sort -n | tail -n 1; }

declare -A med
row() { # stream label firsts-array-name gaps cpus rsss
    local stream=$1 label=$2
    shift 2
    local -n _firsts=$1 _gaps=$2 _cpus=$3 _rsss=$4
    local m rss
    m=$(median "${_firsts[@]}")
    rss=$(maxof "${_rsss[@]}")
    rss=$(awk -v r="${rss:-0}" 'BEGIN {printf "%.1f", r/1024}')
    printf '%s|%s|%s|%s|%s|%s|%s\n' "$stream" "$label" "${_firsts[*]}" "$m" "$(maxof "${_gaps[@]}")" \
        "$(median "${_cpus[@]}")" "$rss"
}

# Every run goes to the log, and to this run's list, which the rows are
# made from.
runs=$work/runs.log
run_logged() { # stream player
    local line
    line=$(run_once "$2" "$1")
    echo "$1 $2 $line" >>"$log"
    echo "$1 $2 $line" >>"$runs"
}

rows=()
measure() { # stream player: its row, from this run's list
    local stream=$1 player=$2 line
    local -a firsts=() gaps=() cpus=() rsss=() recv=() switch=()
    while read -r _ _ line; do
        if [ "$player" = dialog ]; then
            local marks
            marks=$(field "$line" marks)
            recv+=("$(echo "$marks" | cut -d, -f1)")
            switch+=("$(echo "$marks" | cut -d, -f3)")
        else
            firsts+=("$(field "$line" first)")
        fi
        gaps+=("$(field "$line" gap)")
        cpus+=("$(field "$line" cpu)")
        rsss+=("$(field "$line" rss)")
    done < <(grep "^$stream $player " "$runs")
    [ "$player" = dialog ] || [ "$player" = idle ] || med["$stream/$player"]=$(median "${firsts[@]}")
    if [ "$player" = dialog ]; then
        rows+=("$(row "$stream" "dialog: Recieve" recv gaps cpus rsss)")
        rows+=("$(row "$stream" "dialog: switch" switch gaps cpus rsss)")
    elif [ "$player" = idle ]; then
        rows+=("$(row "$stream" "dialog, nothing playing" firsts gaps cpus rsss)")
    else
        rows+=("$(row "$stream" "$player" firsts gaps cpus rsss)")
    fi
}

# The players take turns within each repetition, so that a change of load on
# the (shared) machine weighs on all of them alike.
for _ in $(seq "$reps"); do run_logged wav paplay; done
for stream in $streams; do
    for _ in $(seq "$reps"); do
        for player in $players; do
            run_logged "$stream" "$player"
        done
    done
done
idle=false
[[ " $players " != *" dialog "* ]] || idle=true
if $idle; then
    for _ in $(seq "$reps"); do run_logged idle idle; done
fi

measure wav paplay
for stream in $streams; do
    for player in $players; do
        measure "$stream" "$player"
    done
done
! $idle || measure idle idle

echo "| stream | player | first audible (ms), each run | median | ratio to best peer | longest silence (ms) | CPU % while playing | peak RSS (MiB) |"
echo "|---|---|---|---|---|---|---|---|"
for r in "${rows[@]}"; do
    IFS='|' read -r stream label firsts m gap cpu rss <<<"$r"
    best=""
    for peer in gst-play mpv ffplay; do
        v=${med["$stream/$peer"]:-none}
        [ "$v" = none ] && continue
        if [ -z "$best" ] || [ "$v" -lt "$best" ]; then best=$v; fi
    done
    ratio="-"
    if [ -n "$best" ] && [ "$m" != none ] && [ "$best" -gt 0 ]; then
        ratio=$(awk -v a="$m" -v b="$best" 'BEGIN {printf "%.2f", a/b}')
    fi
    case $stream in
    wav) shown="local WAV (floor)" ;;
    idle) shown="-" m="-" firsts="-" ;;
    *) shown="/$stream" ;;
    esac
    echo "| $shown | $label | $firsts | $m | $ratio | ${gap:--} | $cpu | $rss |"
done
if [ -n "${KILLED_CLIENT:-}" ]; then
    echo
    echo "| stream | player | longest silence after the first sound (ms), each run | median | where it began (ms after the first sound), each run |"
    echo "|---|---|---|---|---|"
    for stream in $streams; do
        for player in $players; do
            gaps=() ats=()
            while read -r _ _ line; do
                gaps+=("$(field "$line" gap)")
                ats+=("$(field "$line" gap-at)")
            done < <(grep "^$stream $player " "$runs")
            [ "${#gaps[@]}" -gt 0 ] || continue
            echo "| /$stream | $player | ${gaps[*]} | $(median "${gaps[@]}") | ${ats[*]} |"
        done
    done
fi
echo "measurements: $log" >&2
