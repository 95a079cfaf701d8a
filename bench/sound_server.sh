# Sourced by the listening benchmarks: starts a private sound server of either kind in the
# folder $work (which must exist), exports what its clients need to find it, and leaves a null
# sink "out", the default output, whose monitor starglobe --listen hears. The facts behind it
# are in tests/listen_test.cpp, where the tests start the same servers.
#
#     start_sound_server pulseaudio|pipewire     # then: paplay -d out, starglobe --listen
#     stop_sound_server                          # ends what it started, by process id
#
# PIPEWIRE_PULSE_MIN=SAMPLES (at 48 kHz) lowers what PipeWire's PulseAudio layer grants at
# least, its request, fragment and quantum, from its own 256 (5.3 ms): a server set up for low
# latency, not what a desktop runs.
# An X server of its own for the demo's window, in $DISPLAY.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 400x300x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
    until [[ -s $work/display ]]; do sleep 0.1; done
    export DISPLAY=:$(cat "$work/display") SDL_VIDEODRIVER=x11
}

server_pids=()

start_sound_server() {
    export XDG_RUNTIME_DIR=$work/run-$1 HOME=$work
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    if [[ $1 == pulseaudio ]]; then
        pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
            --load="module-null-sink sink_name=out" --load=module-native-protocol-unix \
            2>/dev/null &
        server_pids+=($!)
    else
        server_pids+=($(dbus-daemon --session --fork --print-pid \
            --address="unix:path=$XDG_RUNTIME_DIR/bus"))
        export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
        if [[ -n ${PIPEWIRE_PULSE_MIN:-} ]]; then
            local least=$PIPEWIRE_PULSE_MIN/48000
            mkdir -p "$HOME/.config/pipewire/pipewire-pulse.conf.d"
            echo "pulse.properties = { pulse.min.req = $least pulse.min.frag = $least" \
                "pulse.min.quantum = $least }" \
                >"$HOME/.config/pipewire/pipewire-pulse.conf.d/least.conf"
        fi
        pipewire 2>/dev/null & server_pids+=($!)
        sleep 0.5
        wireplumber 2>/dev/null & server_pids+=($!)
        mkdir -p "$XDG_RUNTIME_DIR/pulse"  # see tests/listen_test.cpp: a race otherwise
        pipewire-pulse 2>/dev/null & server_pids+=($!)
    fi
    for _ in $(seq 200); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    if [[ $1 == pipewire ]]; then
        pactl load-module module-null-sink sink_name=out >/dev/null
        pactl set-default-sink out
    fi
    for _ in $(seq 100); do pactl list short sources | grep -q out.monitor && break; sleep 0.1; done
}

stop_sound_server() {
    local pid
    for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${server_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    server_pids=()
}
