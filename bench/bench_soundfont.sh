#!/usr/bin/env bash
# Whole-process time of rendering one General MIDI song: the fluidsynth command
# (its own reverb and chorus off) against tembora-render --sf2 with the master
# effects off and on. Prints the best of RUNS runs of each and the ratios.
#
#   bench/bench_soundfont.sh [BUILD_DIR] [FONT] [SECONDS]
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
/usr/bin/python3 bench/gm_song.py "$WORK/song.mid" "$SECONDS_OF_SONG"

# shellcheck source=bench/best_of.sh
source bench/best_of.sh

read -r peerWall peerCpu < <(best_of fluidsynth -ni -q -R 0 -C 0 -F "$WORK/peer.wav" -r 48000 "$FONT" "$WORK/song.mid")
read -r dryWall dryCpu < <(best_of "$RENDER" "$WORK/song.mid" -o "$WORK/dry.wav" --sf2 "$FONT" --fx off)
read -r wetWall wetCpu < <(best_of "$RENDER" "$WORK/song.mid" -o "$WORK/wet.wav" --sf2 "$FONT" --fx on)

echo "song: ${SECONDS_OF_SONG} s, font: $FONT, best of $RUNS runs (wall / CPU seconds)"
awk -v pw="$peerWall" -v pc="$peerCpu" -v dw="$dryWall" -v dc="$dryCpu" -v ww="$wetWall" -v wc="$wetCpu" 'BEGIN {
  printf "fluidsynth -R 0 -C 0           %6.2f / %6.2f\n", pw, pc
  printf "tembora-render --sf2 --fx off  %6.2f / %6.2f   ratio %.2f / %.2f (target <= 1.10)\n", dw, dc, dw / pw, dc / pc
  printf "tembora-render --sf2 --fx on   %6.2f / %6.2f   ratio %.2f / %.2f (target <= 1.40)\n", ww, wc, ww / pw, wc / pc
}'
