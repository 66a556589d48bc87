#!/usr/bin/env bash
# Live soak: does the audio graph keep every cycle while the window is played?
#   bench/soak.sh [BUILD_DIR]
# Environment: SOAK_SECONDS (60), SOAK_QUANTA ("256 64"), SOAK_SCENES
# ("reference idle keys"). For every forced quantum of a private PipeWire session
# with a null sink, each scene runs for SOAK_SECONDS with pw-profiler logging
# every graph cycle:
#   reference  pw-play of a WAV, nothing else
#   idle       the program under a virtual X server, window open, nothing played
#   keys       the same with eight computer keys struck together every second
#              (the end-to-end check's driver, scripts/window-driver.sh)
# and prints cycles, late cycles, the program's processing time per cycle and the
# CPU time per second of its GUI, render and rasterizer threads.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$(realpath "$build/src/tembora")
seconds=${SOAK_SECONDS:-60}
quanta=${SOAK_QUANTA:-256 64}
scenes=${SOAK_SCENES:-reference idle keys}
driver=$PWD/scripts/window-driver.sh
report=$PWD/bench/soak_report.py
[ -x "$program" ] || { echo "build first: $program is missing" >&2; exit 1; }
for tool in pw-profiler pw-play pw-metadata Xvfb xdotool; do
    command -v $tool >/dev/null || { echo "soak: $tool is not installed" >&2; exit 1; }
done

# shellcheck disable=SC1091
source scripts/pipewire-session.sh
work=$(mktemp -d)
profiler_pid=""
player_pid=""
cleanup() {
    [ -n "$profiler_pid" ] && kill -INT "$profiler_pid" 2>/dev/null || true
    [ -n "$player_pid" ] && kill "$player_pid" 2>/dev/null || true
    [ -d "$work/app" ] && "$driver" stop "$work/app" || true
    pw_session_stop
    [ -n "${SOAK_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
pw_session_start >/dev/null || { echo "soak: no private PipeWire session" >&2; exit 1; }
export XDG_RUNTIME_DIR=$TMB_PW_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS=$TMB_PW_DBUS_ADDRESS
/usr/bin/python3 - "$work/reference.wav" $((seconds + 5)) <<'EOF'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as out:
    out.setnchannels(2)
    out.setsampwidth(2)
    out.setframerate(48000)
    second = b"".join(struct.pack("<hh", v, v) for v in
                      (int(8000 * math.sin(2 * math.pi * 440 * i / 48000)) for i in range(48000)))
    for _ in range(int(sys.argv[2])):
        out.writeframes(second)
EOF

threads() { # "tid comm utime stime" for every thread of a process
    local t
    for t in /proc/"$1"/task/*; do
        awk -v tid="${t##*/}" '{ sub(/^.*\) /, ""); print tid, $12, $13 }' "$t/stat" |
            awk -v comm="$(tr ' ' '_' <"$t/comm")" '{ print $1, comm, $2, $3 }'
    done
}

profile_for() { # NODE [PID]: profile the graph for $seconds
    (cd "$work" && exec pw-profiler -o "$work/profile.txt" >"$work/profiler.log" 2>&1) &
    profiler_pid=$!
    local from
    from=$(date +%s.%N)
    [ -n "${2:-}" ] && threads "$2" >"$work/threads.before"
    sleep "$seconds"
    [ -n "${2:-}" ] && threads "$2" >"$work/threads.after"
    local elapsed
    elapsed=$(awk -v from="$from" -v to="$(date +%s.%N)" 'BEGIN { print to - from }')
    kill -INT "$profiler_pid"
    wait "$profiler_pid" || true
    profiler_pid=""
    if [ -n "${2:-}" ]; then
        /usr/bin/python3 "$report" "$work/profile.txt" "$work/profiler.log" "$1" "$2" \
            "$work/threads.before" "$work/threads.after" "$elapsed"
    else
        /usr/bin/python3 "$report" "$work/profile.txt" "$work/profiler.log" "$1"
    fi
}

echo "soak $(date +%F), ${seconds} s a scene, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for quantum in $quanta; do
    pw-metadata -n settings 0 clock.force-rate 48000 >/dev/null
    pw-metadata -n settings 0 clock.force-quantum "$quantum" >/dev/null
    for scene in $scenes; do
        printf 'quantum %-4s %-10s ' "$quantum" "$scene"
        case "$scene" in
            reference)
                pw-play --target test_null "$work/reference.wav" &
                player_pid=$!
                sleep 1
                profile_for pw-play
                kill "$player_pid" 2>/dev/null || true
                wait "$player_pid" 2>/dev/null || true
                player_pid=""
                ;;
            idle | keys)
                rm -rf "$work/app" && mkdir "$work/app"
                "$driver" start "$work/app" "$program"
                sleep 2 # start-up instruments, the sound-server commands at 0.6 s
                pid=$(cat "$work/app/program.pid")
                if [ "$scene" = keys ]; then
                    "$driver" strike "$work/app" "$((seconds + 3))" &
                    striker=$!
                    profile_for tembora "$pid"
                    wait "$striker" || true
                else
                    profile_for tembora "$pid"
                fi
                grep -o 'Audio thread: [a-z ]*' "$work/app/program.log" | tail -1 | sed 's/^/  /' || true
                "$driver" stop "$work/app"
                ;;
            *) echo "unknown scene $scene" ;;
        esac
    done
done
