#!/usr/bin/env bash
# CPU while recording, side by side: the real program (Vavaroz, on a private
# session bus, output to a synchronised fake sink) and mpv (--ao=null) each
# play the local radio's /mp3 for 30 s, then record it for 30 s (Didira:
# org.didira.Didira1.StartRecording; mpv: --stream-record). Prints the CPU
# of each phase (% of one core, from /proc/PID/stat) and the files written.
#   bench/record-cpu.sh [SECONDS=30]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
bash "$root/scripts/setup.sh" --bench >&2
w=$(mktemp -d /tmp/didira-record-cpu.XXXXXX)
chmod 755 "$w" # the local server reads its files as user nobody
port=$(bash "$root/scripts/local-radio.sh" start "$w/radio" | tail -n 1)
url=http://127.0.0.1:$port/mp3
pids=()
cleanup() {
    bash "$root/scripts/local-radio.sh" stop "$w/radio" >/dev/null 2>&1 || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
hz=$(getconf CLK_TCK)
ticks() { awk '{print $14+$15}' "/proc/$1/stat"; }
cpu() {
    local a b
    a=$(ticks "$1"); sleep "$seconds"; b=$(ticks "$1")
    python3 -c "print(round(($b-$a)/$hz/$seconds*100,2))"
}
mkdir -p "$w/home/Music" "$w/config"
printf 'XDG_MUSIC_DIR="%s"\n' "$w/home/Music" >"$w/config/user-dirs.dirs"
export HOME=$w/home XDG_CONFIG_HOME=$w/config XDG_CACHE_HOME=$w/cache
export QT_QPA_PLATFORM=offscreen DIDIRA_AUDIO_SINK="fakesink sync=true" DIDIRA_NO_NOTIFICATIONS=1
dbus-daemon --session --fork --print-address=1 --print-pid=3 >"$w/bus" 3>"$w/bus.pid"
pids+=("$(cat "$w/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$w/bus")
call() { gdbus call --session --dest org.mpris.MediaPlayer2.didira "$@" >/dev/null; }

cd "$w" && printf '1,Test,%s\r\n' "$url" >radioname.csv
"$root/build/Vavaroz" >/dev/null 2>&1 &
pid=$!; pids+=("$pid")
for _ in $(seq 50); do call --object-path /org/mpris/MediaPlayer2 \
    --method org.freedesktop.DBus.Peer.Ping 2>/dev/null && break; sleep 0.2; done
call --object-path /org/mpris/MediaPlayer2 --method org.mpris.MediaPlayer2.Player.OpenUri "$url"
sleep 6
echo "didira playing: $(cpu "$pid") %"
call --object-path /org/didira/Didira --method org.didira.Didira1.StartRecording
echo "didira recording: $(cpu "$pid") %"
call --object-path /org/didira/Didira --method org.didira.Didira1.StopRecording
sleep 1
ls -l "$w/home/Music/Didira"
kill "$pid"

mpv --no-config --no-video --ao=null --really-quiet "$url" &
pid=$!; pids+=("$pid")
sleep 6; echo "mpv playing: $(cpu "$pid") %"; kill "$pid"
mpv --no-config --no-video --ao=null --really-quiet --stream-record="$w/mpv.mp3" "$url" &
pid=$!; pids+=("$pid")
sleep 6; echo "mpv recording: $(cpu "$pid") %"; kill "$pid"
ls -l "$w/mpv.mp3"
