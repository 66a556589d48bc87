#!/usr/bin/env bash
# A private PipeWire session for tests: its own runtime folder (mode 0700), a
# session D-Bus, pipewire, wireplumber and a null sink "test_null". Nothing here
# touches the user's own session, and every process is stopped by its PID.
#
# Use from bash:   source scripts/pipewire-session.sh; pw_session_start [--pulse]; ...; pw_session_stop
# --pulse (or TMB_PW_PULSE=1) also starts pipewire-pulse, for tests that run pactl
# against the session; without it, a failure to start it is not an error.
# Or directly:     scripts/pipewire-session.sh start|stop   (state in $TMB_PW_STATE_FILE)
#
# While the session runs, TMB_PW_RUNTIME_DIR and TMB_PW_DBUS_ADDRESS name it; tests
# that need it set XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS from them.

pw_session_start() {
    local pulse=${TMB_PW_PULSE:-0}
    [ "${1:-}" = "--pulse" ] && pulse=1
    local run
    run=$(mktemp -d "${TMPDIR:-/tmp}/tmb-pw.XXXXXX") || return 1
    chmod 700 "$run"
    TMB_PW_RUNTIME_DIR=$run
    export TMB_PW_RUNTIME_DIR
    for tool in dbus-daemon pipewire wireplumber pw-cli; do
        command -v "$tool" >/dev/null 2>&1 || { echo "pipewire-session: $tool is not installed" >&2; return 1; }
    done

    dbus-daemon --session --fork --nopidfile --address="unix:path=$run/bus" \
        --print-address=3 --print-pid=4 3>"$run/dbus.addr" 4>"$run/dbus.pid" || return 1
    TMB_PW_DBUS_ADDRESS=$(head -1 "$run/dbus.addr")
    export TMB_PW_DBUS_ADDRESS

    (
        export XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=$TMB_PW_DBUS_ADDRESS
        pipewire >"$run/pipewire.log" 2>&1 &
        echo $! >"$run/pipewire.pid"
    )
    local i
    for i in $(seq 1 100); do
        [ -S "$run/pipewire-0" ] && break
        sleep 0.05
    done
    [ -S "$run/pipewire-0" ] || { echo "pipewire-session: pipewire did not start" >&2; pw_session_stop; return 1; }

    (
        export XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=$TMB_PW_DBUS_ADDRESS
        wireplumber >"$run/wireplumber.log" 2>&1 &
        echo $! >"$run/wireplumber.pid"
    )
    XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=$TMB_PW_DBUS_ADDRESS pw-cli create-node adapter \
        '{ factory.name=support.null-audio-sink node.name=test_null media.class=Audio/Sink object.linger=true audio.position=[FL FR] }' \
        >"$run/null-sink.log" 2>&1 || { echo "pipewire-session: cannot create the null sink" >&2; pw_session_stop; return 1; }
    # Give wireplumber a moment to pick the null sink as the default.
    for i in $(seq 1 40); do
        XDG_RUNTIME_DIR=$run pw-cli ls Node 2>/dev/null | grep -q test_null && break
        sleep 0.05
    done
    if [ "$pulse" = 1 ]; then
        if command -v pipewire-pulse >/dev/null 2>&1; then
            (
                export XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=$TMB_PW_DBUS_ADDRESS
                pipewire-pulse >"$run/pipewire-pulse.log" 2>&1 &
                echo $! >"$run/pipewire-pulse.pid"
            )
            for i in $(seq 1 100); do
                [ -S "$run/pulse/native" ] && break
                sleep 0.05
            done
            [ -S "$run/pulse/native" ] || echo "pipewire-session: pipewire-pulse did not start (its tests skip)" >&2
        else
            echo "pipewire-session: pipewire-pulse is not installed (its tests skip)" >&2
        fi
    fi
    echo "pipewire-session: running in $run"
}

pw_session_stop() {
    local run=${TMB_PW_RUNTIME_DIR:-}
    [ -n "$run" ] && [ -d "$run" ] || return 0
    local name pid
    for name in pipewire-pulse wireplumber pipewire dbus; do
        if [ -f "$run/$name.pid" ]; then
            pid=$(cat "$run/$name.pid")
            [ -n "$pid" ] && kill "$pid" 2>/dev/null
        fi
    done
    for name in pipewire-pulse wireplumber pipewire dbus; do
        if [ -f "$run/$name.pid" ]; then
            pid=$(cat "$run/$name.pid")
            for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
            kill -9 "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$run"
    unset TMB_PW_RUNTIME_DIR TMB_PW_DBUS_ADDRESS
}

# A private home for running the program itself (pictures, benchmarks), so nothing of
# the user's own setup is touched: pw_private_home [--pulse] makes a temporary folder
# PW_HOME, starts a session (the option passed on) and removes both on exit; without
# PipeWire the program still gets a runtime folder of its own (mode 0700).
# pw_home_run [VARIABLE=VALUE...] COMMAND...: runs the command in that home, with data
# and settings folders fresh each time.
pw_private_home() {
    PW_HOME=$(mktemp -d) || return 1
    PW_HOME_RUNTIME=$PW_HOME/runtime
    mkdir -p "$PW_HOME_RUNTIME" && chmod 700 "$PW_HOME_RUNTIME"
    trap 'pw_session_stop; rm -rf "$PW_HOME"' EXIT
    if pw_session_start "$@" >/dev/null; then PW_HOME_RUNTIME=$TMB_PW_RUNTIME_DIR; fi
}

pw_home_run() {
    rm -rf "$PW_HOME/data" "$PW_HOME/config"
    env HOME="$PW_HOME" XDG_DATA_HOME="$PW_HOME/data" XDG_CONFIG_HOME="$PW_HOME/config" \
        XDG_RUNTIME_DIR="$PW_HOME_RUNTIME" "$@"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    state=${TMB_PW_STATE_FILE:-/tmp/tmb-pw-session.env}
    case "${1:-}" in
        start)
            pw_session_start "${2:-}" || exit 1
            printf 'export TMB_PW_RUNTIME_DIR=%q TMB_PW_DBUS_ADDRESS=%q\n' "$TMB_PW_RUNTIME_DIR" "$TMB_PW_DBUS_ADDRESS" >"$state"
            echo "source $state to reach the session"
            ;;
        stop)
            # shellcheck disable=SC1090
            [ -f "$state" ] && source "$state"
            pw_session_stop
            rm -f "$state"
            ;;
        *) echo "usage: $0 start [--pulse]|stop" >&2; exit 2 ;;
    esac
fi
