#!/usr/bin/env bash
# A soak of Didira: the real player control plays the local radio and
# switches station at a fixed interval, the radio server is killed and started
# again at another, and a bus client runs automation CreateInstance / Release
# cycles against the real program in server mode (Vavaroz -Embedding, started
# by a private bus for each request; one such process is held throughout).
# Resident memory, threads and open descriptors of each long-lived process are
# sampled into a CSV; at the end a summary gives the growth after the warm-up,
# per hour. Not part of the tests.
#
#   bench/soak.sh [OUT_DIR]
# Parameters (environment, seconds):
#   SOAK_SECONDS=3600  SWITCH_SECONDS=30  RESTART_SECONDS=600
#   SAMPLE_SECONDS=60  WARMUP_SECONDS=600  CYCLES=1000
# A trial: SOAK_SECONDS=180 SWITCH_SECONDS=10 RESTART_SECONDS=60 \
#   SAMPLE_SECONDS=15 WARMUP_SECONDS=30 CYCLES=20 bench/soak.sh
# Output in OUT_DIR (default a new directory under /tmp): samples.csv
# (elapsed_s, minute, process, pid, rss_kib, threads, fds, leftover), cycles.csv
# (one row per automation cycle), play.log, automation.log, restarts.log,
# bus.log, summary.txt and table.md (the samples as a Markdown table).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DIDIRA_BUILD_DIR:-$root/build}
soak=${SOAK_SECONDS:-3600}
switch=${SWITCH_SECONDS:-30}
restart=${RESTART_SECONDS:-600}
sample=${SAMPLE_SECONDS:-60}
warmup=${WARMUP_SECONDS:-600}
cycles=${CYCLES:-1000}

if [ -z "${DIDIRA_SOAK_NO_BUILD:-}" ]; then
    if [ -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -DDIDIRA_BENCH=ON >/dev/null
    else
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DDIDIRA_TESTS=OFF -DDIDIRA_BENCH=ON >/dev/null
    fi
    ninja -C "$build" -j "${JOBS:-2}" Vavaroz didira_soak >/dev/null
fi
exe=$build/Vavaroz
driver=$build/bench/didira_soak

out=${1:-$(mktemp -d /tmp/didira-soak.XXXXXX)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d /tmp/didira-soak-run.XXXXXX)
chmod 755 "$work" # the local server reads its files as user nobody
radio=$work/radio

pids=()
# The Didira processes on this soak's bus (the bus starts them detached).
ours() {
    local p
    for p in $(pgrep -x Vavaroz || true); do
        if grep -qzx "XDG_RUNTIME_DIR=$work/run" "/proc/$p/environ" 2>/dev/null; then
            echo "$p"
        fi
    done
}
cleanup() {
    local p
    for p in "${pids[@]}"; do
        kill "$p" 2>/dev/null || true
    done
    bash "$root/scripts/local-radio.sh" stop "$radio" || true
    if [ -n "${buspid:-}" ]; then
        # Server-mode processes the bus started would outlive it.
        for p in $(ours); do
            kill -KILL "$p" 2>/dev/null || true
        done
        kill "$buspid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A private bus whose service directory starts Vavaroz in server mode, and an
# environment that keeps every Didira off the user's session and files.
mkdir -p "$work/xdg/dbus-1/services" "$work/home" "$work/run" "$work/wd"
chmod 700 "$work/run"
printf '1,Local MP3,http://127.0.0.1:9/x.mp3\r\n' >"$work/wd/radioname.csv"
printf '[D-BUS Service]\nName=Vavaroz.Application\nExec=%s -Embedding\n' "$exe" \
    >"$work/xdg/dbus-1/services/Vavaroz.Application.service"
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <servicedir>$work/xdg/dbus-1/services</servicedir>
  <limit name="service_start_timeout">30000</limit>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
EOF
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
export XDG_DATA_HOME=$work/xdg HOME=$work/home XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=offscreen DIDIRA_AUDIO_SINK="fakesink sync=true"
unset DISPLAY WAYLAND_DISPLAY

port=$(bash "$root/scripts/local-radio.sh" start "$radio" | tail -n 1)
(cd "$work/wd" && exec dbus-daemon --nofork --config-file="$work/bus.conf") >"$out/bus.log" 2>&1 &
buspid=$!
for _ in $(seq 100); do
    [ -S "$work/bus" ] && break
    sleep 0.1
done

start_s=$SECONDS
"$driver" play "http://127.0.0.1:$port" "$soak" "$switch" >"$out/play.log" 2>&1 &
playpid=$!
pids+=("$playpid")
"$driver" automation "$cycles" "$soak" "$out/cycles.csv" >"$out/automation.log" 2>&1 &
autopid=$!
pids+=("$autopid")
heldpid=""
for _ in $(seq 600); do
    heldpid=$(sed -n 's/^held pid=//p' "$out/automation.log")
    [ -n "$heldpid" ] && break
    kill -0 "$autopid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$heldpid" ] || { echo "soak: no server-mode process held" >&2; cat "$out/automation.log" >&2; exit 1; }

# Kills the server (as a crash would end it) and starts it again on its port.
(
    while sleep "$restart"; do
        kill -KILL "$(cat "$radio/icecast.server.pid")" 2>/dev/null || true
        bash "$root/scripts/local-radio.sh" stop "$radio" || true
        bash "$root/scripts/local-radio.sh" start "$radio" "$port" >/dev/null ||
            echo "soak: radio restart failed at $((SECONDS - start_s)) s" >&2
        echo "restart $((SECONDS - start_s))"
    done
) >"$out/restarts.log" 2>&1 &
pids+=("$!")

# One row per process and sample; "leftover" counts the processes the bus
# started beyond the held one (cycles in flight, or ones that never ended).
figures() { # pid -> rss_kib threads fds
    local rss threads fds
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo -1)
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo -1)
    fds=$(find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
    echo "${rss:--1},${threads:--1},$fds"
}
echo "elapsed_s,minute,process,pid,rss_kib,threads,fds,leftover" >"$out/samples.csv"
take_sample() {
    local t=$((SECONDS - start_s)) leftover
    leftover=$(($(ours | wc -l) - 1))
    local label pid
    for label in player:$playpid server:$heldpid client:$autopid bus:$buspid; do
        pid=${label#*:}
        echo "$t,$((t / 60)),${label%%:*},$pid,$(figures "$pid"),$leftover" >>"$out/samples.csv"
    done
}
take_sample
next=$(((SECONDS - start_s) / sample * sample + sample))
while kill -0 "$playpid" 2>/dev/null; do
    while [ $((SECONDS - start_s)) -lt "$next" ] && kill -0 "$playpid" 2>/dev/null; do
        sleep 1
    done
    kill -0 "$playpid" 2>/dev/null && take_sample
    next=$((next + sample))
done
wait "$autopid" || true

# Summary: per process, the first sample at or after the warm-up against the
# last, scaled to an hour.
{
    echo "commit $(git -C "$root" rev-parse --short HEAD), $(uname -srm), $(nproc) cores, $(date -u '+%F %H:%M UTC')"
    echo "ran $((SECONDS - start_s)) s; switches every $switch s, server restarts every $restart s, samples every $sample s, warm-up $warmup s"
    grep '^end' "$out/play.log" || echo "player: no end line"
    grep '^end' "$out/automation.log" || echo "automation: no end line"
    echo "server restarts: $(grep -c '^restart' "$out/restarts.log" || true)"
    awk -F, 'NR > 1 && $9 != "" {f++} NR > 1 {n++} END {printf "automation cycles: %d rows, %d with an error\n", n, f}' "$out/cycles.csv"
    awk -F, -v warm="$warmup" '
        NR == 1 || $5 < 0 { next } # a header, or a process that has ended
        {
            if (!($3 in seen)) { order[++np] = $3; seen[$3] = 1 }
            if ($1 >= warm && !($3 in t0)) { t0[$3] = $1; r0[$3] = $5; h0[$3] = $6; f0[$3] = $7 }
            t1[$3] = $1; r1[$3] = $5; h1[$3] = $6; f1[$3] = $7
            if ($8 > maxleft) maxleft = $8
        }
        END {
            printf "%-7s %12s %12s %14s %12s %10s\n", "process", "rss@warm KiB", "rss end KiB", "RSS MiB/hour", "threads", "fds"
            for (i = 1; i <= np; i++) {
                p = order[i]
                if (!(p in t0) || t1[p] <= t0[p]) { printf "%-7s (no samples after the warm-up)\n", p; continue }
                h = (t1[p] - t0[p]) / 3600
                printf "%-7s %12d %12d %+14.2f %5d -> %-4d %4d -> %-4d\n", p, r0[p], r1[p],
                    (r1[p] - r0[p]) / 1024 / h, h0[p], h1[p], f0[p], f1[p]
            }
            printf "most processes left over from cycles at a sample: %d\n", maxleft
        }' "$out/samples.csv"
} | tee "$out/summary.txt"
bash "$root/bench/soak-table.sh" "$out/samples.csv" >"$out/table.md"
echo "soak: output in $out"
