#!/usr/bin/env bash
# Recovery, side by side: Didira's player control (didira_bench), mpv and
# gst-play-1.0 each play the local radio's /mp3 to a private sound server's
# null sink, where didira_listen hears the station's tone; then, per scenario:
#   server    the server is killed and, after OUTAGE seconds, started again
#             on the same port; measured from the station answering again
#   network   NetworkManager reports the network gone and the server is
#             killed; after OUTAGE seconds the server is back and the network
#             reported connected; measured from "connected"
#   wake      logind's PrepareForSleep(true), the players frozen (SIGSTOP),
#             the network gone and the server killed; after OUTAGE seconds the
#             server is back, the players thawed, PrepareForSleep(false), and
#             1 s later the network reported connected; measured from the wake
#             and from "connected"
# NetworkManager and logind are python3-dbusmock's templates on a private bus
# given to the players as the system bus (DBUS_SYSTEM_BUS_ADDRESS). Reported
# per run: the time from each event to the tone heard again at the sink, and,
# for a player that ended, how long after the server was killed it did so.
#   bench/recovery.sh [OUTAGE_SECONDS=5] [REPETITIONS=2]
#   SCENARIOS="server network wake"   PLAYERS="didira mpv gst-play"
# Output: a Markdown table on standard output (copy it into bench/README.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
outage=${1:-5}
reps=${2:-2}
build=${DIDIRA_BUILD_DIR:-$root/build}
scenarios=${SCENARIOS:-server network wake}
players=${PLAYERS:-didira mpv gst-play}
wait_after=20 # seconds to wait for the tone after the last event

bash "$root/scripts/setup.sh" --bench >&2
. "$root/bench/build.sh"
build_bench "$root" "$build" didira_bench didira_listen

. "$root/bench/radio.sh"
start_bench_radio recovery

# A private sound server and a private system bus.
. "$root/bench/pulse.sh"
start_private_pulse "$work"
pids+=("$pulse_pid")
dbus-daemon --config-file=/usr/share/dbus-1/session.conf --nofork --print-address=1 \
    >"$work/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && [ -s "$work/bus" ] && break
    sleep 0.1
done
pactl info >/dev/null
export DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$work/bus")
for template in logind networkmanager; do
    /usr/bin/python3 -m dbusmock -s -t "$template" >/dev/null 2>&1 &
    pids+=($!)
done

mock() { # name method args... (through the mock's own interface)
    /usr/bin/python3 - "$@" <<'EOF'
import dbus, os, sys
bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
name, method = sys.argv[1], sys.argv[2]
if name == "nm":
    obj = bus.get_object("org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager")
    obj.SetGlobalConnectionState(dbus.UInt32(int(sys.argv[3])),
                                 dbus_interface="org.freedesktop.DBus.Mock")
else:
    obj = bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1")
    obj.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                   [dbus.Boolean(sys.argv[3] == "true")],
                   dbus_interface="org.freedesktop.DBus.Mock")
EOF
}
for _ in $(seq 100); do
    mock nm state 70 2>/dev/null && mock logind sleep false 2>/dev/null && break
    sleep 0.2
done

now_ms() { date +%s%3N; }

# One run, as the command didira_listen runs: starts the player, waits for
# its first sound, drives the scenario and prints "mark 440" at each event
# measured from; notes go to $work/notes.
drive() { # player scenario
    local player=$1 scenario=$2 pid
    case $player in
    didira)
        QT_QPA_PLATFORM=offscreen "$build/bench/didira_bench" "$url" 600 >/dev/null 2>&1 &
        ;;
    mpv) mpv --no-config --no-video --ao=pulse --really-quiet "$url" >/dev/null 2>&1 & ;;
    gst-play) gst-play-1.0 --no-interactive "$url" >/dev/null 2>&1 & ;;
    esac
    pid=$!
    sleep 6 # heard by now (the listener measures the first sound)
    local killed gone="" woke=0
    alive() { kill -0 "$pid" 2>/dev/null; }
    case $scenario in
    wake)
        mock logind sleep true
        sleep 0.5
        kill -STOP "$pid" 2>/dev/null || true
        ;;
    esac
    [ "$scenario" = server ] || mock nm state 20
    killed=$(now_ms)
    bash "$root/scripts/local-radio.sh" stop "$radio" >/dev/null
    # While the server is away: a player that ends is noted.
    local until=$(($(now_ms) + outage * 1000))
    while [ "$(now_ms)" -lt "$until" ]; do
        if [ -z "$gone" ] && ! alive; then gone=$(($(now_ms) - killed)); fi
        sleep 0.1
    done
    bash "$root/scripts/local-radio.sh" start "$radio" "$port" >/dev/null &
    local starter=$!
    echo "$starter" >"$work/radio-restart.pid" # for the clean-up, should this run be stopped
    # The station answers before the script has seen every mount up.
    until=$(($(now_ms) + 60000))
    until [ "$(curl -s -o /dev/null -m 0.5 -w '%{http_code}' "$url")" = 200 ] ||
        [ "$(now_ms)" -ge "$until" ]; do sleep 0.05; done
    [ "$scenario" != server ] || echo "mark 440"
    wait "$starter" || true
    rm -f "$work/radio-restart.pid"
    case $scenario in
    server) ;;
    network)
        mock nm state 70
        echo "mark 440"
        ;;
    wake)
        kill -CONT "$pid" 2>/dev/null || true
        mock logind sleep false
        woke=$(now_ms)
        sleep 1
        mock nm state 70
        echo "mark 440"
        woke=$(($(now_ms) - woke))
        ;;
    esac
    until=$(($(now_ms) + wait_after * 1000))
    while [ "$(now_ms)" -lt "$until" ] && alive; do sleep 0.2; done
    if [ -z "$gone" ] && ! alive; then gone=$(($(now_ms) - killed)); fi
    echo "end"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "${gone:--} $woke" >"$work/notes"
}
export -f drive mock now_ms
export root build url radio port outage wait_after work

field() { # line name
    echo "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k {print $2}'
}

echo "| scenario | player | run | outcome | first sound (ms) | event to sound (ms) | ended after the kill (ms) | longest silence after recovery (ms) |"
echo "|---|---|---|---|---|---|---|---|"
for scenario in $scenarios; do
    for i in $(seq "$reps"); do
        for player in $players; do
            line=$("$build/bench/didira_listen" --wait-exit --freq 440 -- \
                bash -c 'drive "$0" "$1"' "$player" "$scenario")
            read -r gone woke <"$work/notes"
            mark=$(field "$line" marks)
            gaps=$(field "$line" gaps)
            # Sound after the event from a player that then ends is what it
            # had buffered (from before a sleep, say), not a recovery.
            if [ "$gone" != - ]; then
                outcome=exits
                [ "$mark" = none ] || outcome="plays its buffer, exits"
            elif [ "$mark" = none ]; then
                outcome=silent
            else
                outcome=recovers
            fi
            event=$mark
            [ "$outcome" = recovers ] || event=-
            if [ "$scenario" = wake ] && [ "$outcome" = recovers ]; then
                event="wake $((woke + mark)), connected $mark"
            fi
            echo "| $scenario | $player | $i | $outcome | $(field "$line" first) | $event | $gone | ${gaps##*,} |"
        done
    done
done
