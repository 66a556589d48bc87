#!/usr/bin/env bash
# Takes pictures of the workstation under a virtual X server, at each window size.
#   scripts/screenshot.sh [OUT_DIR] [BUILD_DIR] [WIDTHxHEIGHT ...]
# Sizes default to 1480x920 and 1180x740; each size's pictures go to OUT_DIR/<size>/:
# every view (view-<mode>.png, and view-<mode>-end.png scrolled to the end), both
# drawers, the floating camera in each corner, the docked camera and full-screen
# performance (see src/app/SceneSnapshot.h; TEMBORA_SNAPSHOT_MODES=0,5 limits the views,
# TEMBORA_SNAPSHOT_SCENES=none leaves out all but the views). The virtual screen is the
# window's size, so full screen is that size too. The program runs with a private home,
# data and runtime folder and a private sound server, so nothing of the user's own setup
# is touched; its phone hub listens on ports of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshots}")
build=${2:-build}
shift $(($# > 2 ? 2 : $#))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1480x920 1180x740)
[ -x "$build/src/tembora" ] || { echo "build the program first (./tembora.sh run or cmake --build $build)" >&2; exit 1; }
# shellcheck disable=SC1091
source scripts/pipewire-session.sh
# A private sound server with a null sink, so the picture shows audio running.
pw_private_home
port=$((20000 + RANDOM % 20000))
for size in "${sizes[@]}"; do
    pw_home_run TMB_PHONE_HTTP_PORT=$port TMB_PHONE_HTTPS_PORT=$((port + 1)) \
        TEMBORA_SNAPSHOT_DIR="$out/$size" TEMBORA_SNAPSHOT_SIZE="$size" \
        timeout 180 xvfb-run -a -s "-screen 0 ${size}x24" "$build/src/tembora"
    ls "$out/$size"
done
