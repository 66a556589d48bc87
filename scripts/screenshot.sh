#!/usr/bin/env bash
# Takes pictures of the workstation's views under a virtual X server.
#   scripts/screenshot.sh [OUT_DIR] [BUILD_DIR] [WIDTHxHEIGHT]
# The program runs with a private home, data and runtime folder, so nothing of the
# user's own setup or sound server is touched. Writes OUT_DIR/view-<mode>.png for
# every view (TEMBORA_SNAPSHOT_MODES=0,5 limits them).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots}")
build=${2:-build}
size=${3:-}
[ -x "$build/src/tembora" ] || { echo "build the program first (./tembora.sh run or cmake --build $build)" >&2; exit 1; }
home=$(mktemp -d)
# shellcheck disable=SC1091
source scripts/pipewire-session.sh
trap 'pw_session_stop; rm -rf "$home"' EXIT
# A private sound server with a null sink, so the picture shows audio running.
runtime=$home/runtime
mkdir -p "$runtime" && chmod 700 "$runtime"
if pw_session_start >/dev/null; then runtime=$TMB_PW_RUNTIME_DIR; fi
HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$runtime \
    TEMBORA_SNAPSHOT_DIR=$out TEMBORA_SNAPSHOT_SIZE=$size timeout 90 xvfb-run -a -s "-screen 0 1600x1000x24" "$build/src/tembora"
ls "$out"/view-*.png
