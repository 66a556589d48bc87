#!/usr/bin/env bash
# The window's figures under a virtual X server, with every view present:
# process start to first frame (median of 5, bench/first_frame.sh), the time to show
# each view, and the program's CPU use while idle on PLAY for 60 s. Prints the scene
# graph's render loop and GL renderer first (Mesa llvmpipe under Xvfb draws the whole
# window in software on every change, the meters included).
#   bench/window.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
idle=${2:-60}
program=$build/src/tembora
[ -x "$program" ] || { echo "build first: $program is missing" >&2; exit 1; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
[ -n "${SKIP_FIRST_FRAME:-}" ] || bench/first_frame.sh "$build"
# shellcheck disable=SC1091
source scripts/pipewire-session.sh
pw_private_home --pulse
run() { # run VARIABLE=VALUE: one start of the program with that report asked for
    pw_home_run QSG_INFO=1 "$1" timeout $((idle + 60)) xvfb-run -a -s "-screen 0 1600x1000x24" "$program" 2>"$PW_HOME/err" || true
    grep -i "backend\|render loop\|GL_RENDERER" "$PW_HOME/err" | sort -u | sed 's/^/scene graph: /' >&2 || true
}
echo "-- switching to each view (two rounds; target <= 250 ms each)"
views=$(run TEMBORA_REPORT_VIEW_SWITCH=1)
echo "$views"
echo "$views" | awk '/shown after/ { ms = $5 + 0; if (ms > worst) { worst = ms; view = $2 } }
    END { printf "slowest: view %s, %.1f ms (target <= 250 ms)\n", view, worst }'
echo "-- idle on PLAY, nothing sounding, ${idle} s (target <= 5 % of one core)"
run TEMBORA_REPORT_IDLE_CPU="$idle"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
