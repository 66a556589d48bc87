#!/usr/bin/env bash
# Time from process start to the first rendered frame of the window, under a
# virtual X server (Mesa llvmpipe), median of five runs.
#   bench/first_frame.sh [BUILD_DIR]
# Uses the system's GM SoundFont as the program does at start-up, a private home
# folder and a private sound server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$build/src/tembora
[ -x "$program" ] || { echo "build first: $program is missing" >&2; exit 1; }
ls /usr/share/sounds/sf2/FluidR3_GM.sf2 >/dev/null 2>&1 || echo "note: the GM SoundFont is not installed; the figure leaves its loading out"
# shellcheck disable=SC1091
source scripts/pipewire-session.sh
home=$(mktemp -d)
trap 'pw_session_stop; rm -rf "$home"' EXIT
runtime=$home/runtime
mkdir -p "$runtime" && chmod 700 "$runtime"
if pw_session_start --pulse >/dev/null; then runtime=$TMB_PW_RUNTIME_DIR; fi
times=()
for run in 1 2 3 4 5; do
    rm -rf "$home/data" "$home/config"
    line=$(HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$runtime \
        TEMBORA_REPORT_FIRST_FRAME=1 timeout 60 xvfb-run -a "$program" 2>/dev/null | grep "first frame")
    ms=$(echo "$line" | grep -o '[0-9]*' | head -1)
    echo "run $run: ${ms} ms"
    times+=("$ms")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "first frame, median of 5: ${median} ms (target <= 1500 ms)"
