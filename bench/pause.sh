#!/usr/bin/env bash
# Pause in a live station, Didira's player control (didira_pause_bench) beside
# mpv (its demuxer cache, defaults), both on the local radio's /mp3 to a
# private sound server's null sink, where didira_listen hears the tone.
#   bench/pause.sh [PAUSE_SECONDS=600] [REPETITIONS=3] [SHORT_PAUSE=20]
# Short runs (REPETITIONS, players in turns): 8 s playing, SHORT_PAUSE paused,
# resume (time to the tone heard again), 6 s playing, 3 s paused, then live
# (Didira: GoLive; mpv: a seek to the end of its cache) and the time to the
# tone. The long run: both players at once, paused together for
# PAUSE_SECONDS after 8 s, sampled every 10 s (VmRSS, VmHWM, Didira's cache
# dir, mpv's cache ahead, the server's listeners on /mp3, CPU); then each resumed
# alone in turn (Didira first, paused again before mpv resumes), timed.
# PAUSE_SECONDS=0 skips the long run, REPETITIONS=0 the short ones.
# Output: Markdown tables on standard output; the samples in the work dir.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
long=${1:-600}
reps=${2:-3}
short=${3:-20}
build=${DIDIRA_BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh" --bench >&2
. "$root/bench/build.sh"
build_bench "$root" "$build" didira_pause_bench didira_listen

. "$root/bench/radio.sh"
start_bench_radio pause
. "$root/bench/pulse.sh"
start_private_pulse "$work"
pids+=("$pulse_pid")
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
pactl info >/dev/null
export XDG_CACHE_HOME=$work/cache
mkdir -p "$XDG_CACHE_HOME"

# mpv's JSON IPC: one command, prints its data (or the error).
mpv_ipc() { # socket command args...
    /usr/bin/python3 - "$@" <<'PY'
import json, socket, sys
s = socket.socket(socket.AF_UNIX)
s.settimeout(5)
s.connect(sys.argv[1])
args = [json.loads(a) if a[:1] in "0123456789-" else a for a in sys.argv[2:]]
s.sendall((json.dumps({"command": args, "request_id": 1}) + "\n").encode())
buf = b""
while True:
    buf += s.recv(65536)
    lines = buf.split(b"\n")
    buf = lines.pop()
    for l in lines:
        m = json.loads(l)
        if m.get("request_id") == 1:
            print(m.get("data") if m.get("error") == "success" else m.get("error"))
            sys.exit(0)
PY
}
# The start of mpv's cache and its end (the newest second it holds).
mpv_live() { # socket
    local s=$1 end
    end=$(mpv_ipc "$s" get_property demuxer-cache-time)
    mpv_ipc "$s" seek "$end" absolute >/dev/null
    mpv_ipc "$s" set_property pause no >/dev/null
}
export -f mpv_ipc mpv_live

start_player() { # player tag: sets ppid, and cmd_<tag> to send a command
    local player=$1 tag=$2
    case $player in
    didira)
        rm -f "$work/$tag.in"
        mkfifo "$work/$tag.in"
        QT_QPA_PLATFORM=offscreen "$build/bench/didira_pause_bench" "$url" \
            <"$work/$tag.in" >"$work/$tag.out" 2>"$work/$tag.err" &
        ppid=$!
        exec {fd}>"$work/$tag.in"
        eval "fd_$tag=$fd"
        ;;
    mpv)
        rm -f "$work/$tag.sock"
        mpv --no-config --no-video --ao=pulse --really-quiet --input-ipc-server="$work/$tag.sock" \
            "$url" >"$work/$tag.out" 2>"$work/$tag.err" &
        ppid=$!
        ;;
    esac
}
send() { # player tag command
    local player=$1 tag=$2 command=$3 fdv
    case $player in
    didira)
        fdv=fd_$tag
        echo "$command" >&"${!fdv}"
        ;;
    mpv)
        case $command in
        pause) mpv_ipc "$work/$tag.sock" set_property pause yes >>"$work/$tag.out" ;;
        resume) mpv_ipc "$work/$tag.sock" set_property pause no >>"$work/$tag.out" ;;
        live) mpv_live "$work/$tag.sock" >>"$work/$tag.out" ;;
        quit) mpv_ipc "$work/$tag.sock" quit >/dev/null 2>&1 || true ;;
        esac
        ;;
    esac
}
stop_player() { # player tag pid
    send "$1" "$2" quit || true
    [ "$1" != didira ] || eval "exec {fd_$2}>&-"

    for _ in $(seq 50); do kill -0 "$3" 2>/dev/null || break; sleep 0.1; done
    kill "$3" 2>/dev/null || true
    wait "$3" 2>/dev/null || true
}

status_kib() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status" 2>/dev/null || echo -; }
# What mpv holds ahead of where it plays: bytes and seconds.
mpv_cache() { # socket
    mpv_ipc "$1" get_property demuxer-cache-state | /usr/bin/python3 -c '
import ast, sys
try:
    s = ast.literal_eval(sys.stdin.read().strip())
    print(s["fw-bytes"], s["cache-duration"])
except Exception:
    print("- -")'
}
ticks() { awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$1/stat" 2>/dev/null || echo -; }
listeners() { # on /mp3, from the server's own list of its clients
    curl -s -m 2 -u admin:didira-local "http://127.0.0.1:$port/admin/listclients?mount=/mp3" |
        grep -o '<listener>' | wc -l
}
disk_kib() { du -sk "$XDG_CACHE_HOME/didira" 2>/dev/null | cut -f1 || echo 0; }
now_ms() { date +%s%3N; }

# A short run of one player, as the command didira_listen runs.
drive_short() { # player
    local player=$1 ppid
    start_player "$player" s
    sleep 8
    send "$player" s pause
    sleep "$short"
    echo "mark 440"
    send "$player" s resume
    sleep 6
    send "$player" s pause
    sleep 3
    echo "mark 440"
    send "$player" s live
    sleep 5
    # How far behind live it plays now (Didira: the control's figure; mpv:
    # what its cache holds ahead of the play position).
    case $player in
    didira) send didira s behind ;;
    mpv) echo "ahead $(mpv_cache "$work/s.sock")" >>"$work/s.out" ;;
    esac
    sleep 3
    echo "end"
    stop_player "$player" s "$ppid"
}

# The long run: both at once.
drive_long() {
    local ppid dpid mpid t0 dt0 mt0 i
    start_player didira d
    dpid=$ppid
    start_player mpv m
    mpid=$ppid
    sleep 8
    echo "before $(status_kib $dpid VmRSS) $(status_kib $mpid VmRSS) $(disk_kib)" >"$work/long.before"
    send didira d pause
    send mpv m pause
    t0=$(now_ms)
    dt0=$(ticks $dpid)
    mt0=$(ticks $mpid)
    echo "s didira_rss didira_hwm didira_disk mpv_rss mpv_hwm mpv_ahead_bytes mpv_ahead_s listeners" >"$work/long.samples"
    for ((i = 0; i <= long; i += 10)); do
        echo "$i $(status_kib $dpid VmRSS) $(status_kib $dpid VmHWM) $(disk_kib)" \
            "$(status_kib $mpid VmRSS) $(status_kib $mpid VmHWM) $(mpv_cache "$work/m.sock") $(listeners)" \
            >>"$work/long.samples"
        [ "$i" -ge "$long" ] || sleep 10
    done
    echo "cpu $(($(now_ms) - t0)) $(($(ticks $dpid) - dt0)) $(($(ticks $mpid) - mt0))" >"$work/long.cpu"
    echo "mark 440"
    send didira d resume
    sleep 6
    send didira d pause
    sleep 1
    echo "mark 440"
    send mpv m resume
    sleep 6
    echo "end"
    stop_player didira d "$dpid"
    stop_player mpv m "$mpid"
}
export -f start_player send stop_player status_kib mpv_cache ticks listeners disk_kib now_ms drive_short drive_long
export work url port build short long XDG_CACHE_HOME

field() { echo "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k {print $2}'; }
median() { printf '%s\n' "$@" | sed 's/^none$/999999/' | sort -n |
    awk '{a[NR]=$1} END {m=a[int((NR+1)/2)]; print (m==999999 ? "none" : m)}'; }

declare -A resumes lives
for i in $(seq "$reps"); do
    for player in didira mpv; do
        rm -rf "$XDG_CACHE_HOME/didira"
        line=$("$build/bench/didira_listen" --wait-exit --limit $((short + 60)) --freq 440 -- \
            bash -c 'drive_short "$0"' "$player")
        echo "short $player $i $line" >>"$work/runs.log"
        sed "s/^/  $player $i: /" "$work/s.out" >>"$work/runs.log"
        marks=$(field "$line" marks)
        resumes[$player]+="${marks%%,*} "
        lives[$player]+="${marks##*,} "
    done
done
if [ "$reps" -gt 0 ]; then
    echo "| player | resume after ${short} s to sound (ms), each run | median | live after 3 s paused to sound (ms), each run | median |"
    echo "|---|---|---|---|---|"
    for player in didira mpv; do
        # shellcheck disable=SC2086
        echo "| $player | ${resumes[$player]% } | $(median ${resumes[$player]}) | ${lives[$player]% } | $(median ${lives[$player]}) |"
    done
    echo
fi
if [ "$long" -gt 0 ]; then
    rm -rf "$XDG_CACHE_HOME/didira"
    line=$("$build/bench/didira_listen" --wait-exit --limit $((long + 80)) --freq 440 -- \
        bash -c 'drive_long')
    echo "long $line" >>"$work/runs.log"
    marks=$(field "$line" marks)
    read -r _ drss0 mrss0 _ <"$work/long.before"
    read -r _ cms dcpu mcpu <"$work/long.cpu"
    first=$(sed -n 2p "$work/long.samples")
    last=$(tail -n 1 "$work/long.samples")
    read -r _ _ _ ddisk0 _ _ mfw0 ms0 l0 <<<"$first"
    read -r _ drss dhwm ddisk mrss mhwm mfw ms l1 <<<"$last"
    hz=$(getconf CLK_TCK)
    pct() { awk -v t="$1" -v ms="$cms" -v hz="$hz" 'BEGIN {printf "%.2f", 100 * t / hz / (ms / 1000)}'; }
    echo "| after ${long} s paused | Didira | mpv |"
    echo "|---|---|---|"
    echo "| RSS before pause (KiB) | $drss0 | $mrss0 |"
    echo "| RSS at the end of the pause (KiB) | $drss | $mrss |"
    echo "| peak RSS (VmHWM, KiB) | $dhwm | $mhwm |"
    echo "| disk (KiB) | $ddisk0 at the pause, $ddisk at its end | - (its cache is in memory) |"
    echo "| mpv's cache ahead of the pause point, start / end (bytes, s) | - | $mfw0, $ms0 / $mfw, $ms |"
    echo "| server's listeners on /mp3, start / end of the pause | $l0 / $l1 (both) | |"
    echo "| CPU while paused (% of one core) | $(pct "$dcpu") | $(pct "$mcpu") |"
    echo "| resume to sound (ms) | ${marks%%,*} | ${marks##*,} |"
    echo
fi
echo "work dir: $work (runs.log, long.samples)" >&2
trap - EXIT
bench_cleanup
