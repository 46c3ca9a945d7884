# Sourced by the benchmark scripts: a work directory with the local radio
# in it, and the clean-up of everything started (the radio, and every pid
# added to pids) when the script ends.
#   start_bench_radio NAME   sets work, radio, pids, port and url (its /mp3)
start_bench_radio() {
    work=$(mktemp -d "/tmp/didira-$1.XXXXXX")
    chmod 755 "$work" # the local server reads its files as user nobody
    radio="$work/radio"
    pids=()
    trap bench_cleanup EXIT
    port=$(bash "$root/scripts/local-radio.sh" start "$radio" | tail -n 1)
    url="http://127.0.0.1:$port/mp3"
}
# A restart of the radio in the background (recovery.sh) writes its pid to
# $work/radio-restart.pid until it is over. The clean-up lets one still in
# flight finish (it is bounded), ending it only if it does not, so that no
# server comes up after the stop.
bench_cleanup() {
    local restart
    restart=$(cat "$work/radio-restart.pid" 2>/dev/null) || restart=
    restarting() { [ -n "$restart" ] && grep -qaF -- "$radio" "/proc/$restart/cmdline" 2>/dev/null; }
    for _ in $(seq 900); do
        restarting || break
        sleep 0.1
    done
    if restarting; then kill "$restart" 2>/dev/null || true; fi
    bash "$root/scripts/local-radio.sh" stop "$radio" >/dev/null 2>&1 || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
