#!/usr/bin/env bash
# Plays the real program as a musician would: a virtual X server of its own, the
# program in it with a private home folder, and xdotool for the mouse and the
# computer keys. Every system tool the program may start is a logging stub on
# PATH. The sound server is the caller's: XDG_RUNTIME_DIR and
# DBUS_SESSION_BUS_ADDRESS must name a private PipeWire session.
#
#   window-driver.sh start STATE PROGRAM     start; the folder STATE keeps the state
#   window-driver.sh click STATE X Y         left click at window coordinates
#   window-driver.sh doubleclick STATE X Y   the same, twice in quick succession
#   window-driver.sh drag STATE X Y DY       press at X Y, move DY pixels (up < 0), release
#   window-driver.sh hold STATE KEY SECONDS  hold one computer key
#   window-driver.sh chord STATE SECONDS KEY...  press the keys together, release
#   window-driver.sh strike STATE SECONDS    8 keys struck together every second
#   window-driver.sh stop STATE              end the program and the X server
#
# The program's PID is in STATE/program.pid, its output in STATE/program.log and
# the stubs' calls in STATE/tools.log. Every process is stopped by its PID. `start`
# exits with 77 where no X server can start.
set -euo pipefail

# Programs the workstation may start; none of them may act on this machine.
STUBBED_TOOLS=(pactl amixer systemctl wpctl adb ffmpeg ssh pkexec xdg-open unzip hostname upnpc curl openssl)
STRIKE_KEYS=(z x c v b n m comma)

die() { echo "window-driver: $*" >&2; exit 1; }

x() { DISPLAY=$(cat "$state/display") "$@"; }

start() {
    local program=$1
    [ -x "$program" ] || die "no program at $program"
    for tool in Xvfb xdotool; do command -v $tool >/dev/null || die "$tool is not installed"; done
    [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pipewire-0" ] || die "no PipeWire session in XDG_RUNTIME_DIR"
    mkdir -p "$state/bin" "$state/home/data" "$state/home/config" "$state/home/cache"
    for tool in "${STUBBED_TOOLS[@]}"; do
        printf '#!/bin/sh\necho "%s $*" >>"%s/tools.log"\nexit 0\n' "$tool" "$state" >"$state/bin/$tool"
        chmod +x "$state/bin/$tool"
    done

    # -displayfd picks a free display number, so parallel runs never collide.
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$state/display.fd" >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    local i
    for i in $(seq 1 100); do [ -s "$state/display.fd" ] && break; sleep 0.05; done
    # 77: the caller may skip, as where no X server can run.
    [ -s "$state/display.fd" ] || { echo "window-driver: Xvfb did not start: $(tail -3 "$state/xvfb.log")" >&2; exit 77; }
    echo ":$(head -1 "$state/display.fd")" >"$state/display"

    (
        export PATH="$state/bin:$PATH" HOME="$state/home" XDG_DATA_HOME="$state/home/data"
        export XDG_CONFIG_HOME="$state/home/config" XDG_CACHE_HOME="$state/home/cache"
        export DISPLAY QT_QPA_PLATFORM=xcb
        DISPLAY=$(cat "$state/display")
        unset PULSE_SERVER
        exec "$program" >"$state/program.log" 2>&1
    ) &
    echo $! >"$state/program.pid"

    local window=""
    for i in $(seq 1 150); do
        window=$(x xdotool search --onlyvisible --name '^Tembora$' 2>/dev/null | head -1 || true)
        [ -n "$window" ] && break
        kill -0 "$(cat "$state/program.pid")" 2>/dev/null || die "the program ended: $(tail -5 "$state/program.log")"
        sleep 0.1
    done
    [ -n "$window" ] || die "no window titled Tembora appeared"
    echo "$window" >"$state/window"
    # No window manager runs: give the window the keyboard directly.
    x xdotool windowfocus --sync "$window"
}

click() {
    local window
    window=$(cat "$state/window")
    x xdotool mousemove --window "$window" "$1" "$2" click 1
}

doubleclick() {
    local window
    window=$(cat "$state/window")
    x xdotool mousemove --window "$window" "$1" "$2" click --repeat 2 --delay 60 1
}

drag() {
    local window step=1 moved=0
    window=$(cat "$state/window")
    [ "$3" -lt 0 ] && step=-1
    x xdotool mousemove --window "$window" "$1" "$2" mousedown 1
    # Pixel by pixel, as a hand moves, so every position reaches the control.
    while [ $moved -ne "$3" ]; do
        x xdotool mousemove_relative -- 0 $step
        moved=$((moved + step))
        sleep 0.01
    done
    x xdotool mouseup 1
}

hold() {
    x xdotool keydown "$1"
    sleep "$2"
    x xdotool keyup "$1"
}

chord() {
    local seconds=$1
    shift
    x xdotool keydown "$@"
    sleep "$seconds"
    x xdotool keyup "$@"
}

strike() {
    local end=$((SECONDS + ${1%.*}))
    while [ $SECONDS -lt $end ]; do
        chord 0.5 "${STRIKE_KEYS[@]}"
        sleep 0.5
    done
}

stop() {
    local name pid
    for name in program xvfb; do
        [ -f "$state/$name.pid" ] || continue
        pid=$(cat "$state/$name.pid")
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 1 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$state/$name.pid"
    done
}

command=${1:-}
state=${2:-}
[ -n "$command" ] && [ -n "$state" ] || die "usage: $0 start|click|doubleclick|drag|hold|chord|strike|stop STATE ..."
shift 2
case "$command" in
    start) start "$@" ;;
    click) click "$@" ;;
    doubleclick) doubleclick "$@" ;;
    drag) drag "$@" ;;
    hold) hold "$@" ;;
    chord) chord "$@" ;;
    strike) strike "$@" ;;
    stop) stop ;;
    *) die "unknown command $command" ;;
esac
