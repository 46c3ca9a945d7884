# Sourced by the benchmark scripts: a private sound server whose only sink
# is a null sink (its monitor is the listener's ear). Nothing of the user's
# session (home, runtime directory, server) is used.
#   start_private_pulse WORK_DIR   sets pulse_pid and exports what clients need
start_private_pulse() {
    local work=$1
    mkdir -p "$work/home" "$work/run"
    chmod 700 "$work/run"
    export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
    cat >"$work/pulse.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/run/native
load-module module-null-sink sink_name=bench rate=48000 channels=2
set-default-sink bench
set-default-source bench.monitor
PA
    echo "autospawn = no" >"$work/client.conf"
    pulseaudio -n -F "$work/pulse.pa" --daemonize=no --exit-idle-time=-1 \
        --log-target="file:$work/pulse.log" >/dev/null 2>&1 &
    pulse_pid=$!
    export PULSE_SERVER=unix:$work/run/native PULSE_CLIENTCONFIG=$work/client.conf
}
