#!/usr/bin/env bash
# Whole-process time of the band backing a left hand: tembora-render LH.mid
# --style 24 --arranger (drums, band and the left hand's keys, master effects on)
# against the fluidsynth command rendering the same left hand alone (its reverb
# and chorus off). Prints the best of RUNS runs of each.
#
#   bench/bench_band_render.sh [BUILD_DIR] [FONT] [SECONDS]
#   defaults: build-release, /usr/share/sounds/sf2/FluidR3_GM.sf2, 60; RUNS=3
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-release}
FONT=${2:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
SECONDS_OF_SONG=${3:-60}
RUNS=${RUNS:-3}
RENDER=$BUILD/src/tembora-render
[ -x "$RENDER" ] || { echo "no $RENDER: build the tembora-render target first" >&2; exit 2; }
command -v fluidsynth >/dev/null || { echo "the fluidsynth command is not installed" >&2; exit 2; }
[ -f "$FONT" ] || { echo "no SoundFont $FONT" >&2; exit 2; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
/usr/bin/python3 bench/left_hand.py "$WORK/lh.mid" "$SECONDS_OF_SONG"

# shellcheck source=bench/best_of.sh
source bench/best_of.sh

read -r peerWall peerCpu < <(best_of fluidsynth -ni -q -R 0 -C 0 -F "$WORK/peer.wav" -r 48000 "$FONT" "$WORK/lh.mid")
read -r bandWall bandCpu < <(best_of "$RENDER" "$WORK/lh.mid" --style 24 --arranger --sf2 "$FONT" -o "$WORK/band.wav")
# "Rendered 63.2 s of audio in ..." from one more run.
AUDIO=$("$RENDER" "$WORK/lh.mid" --style 24 --arranger --sf2 "$FONT" -o "$WORK/band.wav" | awk '{ print $2 }')

echo "left hand: ${SECONDS_OF_SONG} s, font: $FONT, best of $RUNS runs (wall / CPU seconds)"
awk -v pw="$peerWall" -v pc="$peerCpu" -v bw="$bandWall" -v bc="$bandCpu" -v a="$AUDIO" 'BEGIN {
  printf "fluidsynth -F (left hand alone)        %6.2f / %6.2f\n", pw, pc
  printf "tembora-render --style 24 --arranger   %6.2f / %6.2f   %.1fx realtime over %.1f s of audio\n", bw, bc, a / bw, a
}'
