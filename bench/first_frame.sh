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
pw_private_home --pulse
times=()
for run in 1 2 3 4 5; do
    line=$(pw_home_run TEMBORA_REPORT_FIRST_FRAME=1 timeout 60 xvfb-run -a "$program" 2>/dev/null | grep "first frame")
    ms=$(echo "$line" | grep -o '[0-9]*' | head -1)
    echo "run $run: ${ms} ms"
    times+=("$ms")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "first frame, median of 5: ${median} ms (target <= 1500 ms)"
