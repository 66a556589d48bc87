#!/usr/bin/env python3
"""Writes a left hand for the arranger: one low key a bar (C3, F2, G2, C3, ...)
at 100 BPM, each held for the whole bar, for SECONDS seconds.

    /usr/bin/python3 bench/left_hand.py OUT.mid [SECONDS]
"""
import sys

import mido

out = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
bar_ticks = 4 * 480
bars = max(1, int(seconds / 2.4))  # 2.4 s a bar at 100 BPM
roots = [48, 41, 43, 48]

mid = mido.MidiFile(ticks_per_beat=480)
track = mido.MidiTrack()
mid.tracks.append(track)
track.append(mido.MetaMessage('set_tempo', tempo=600000, time=0))
for bar in range(bars):
    note = roots[bar % len(roots)]
    track.append(mido.Message('note_on', note=note, velocity=90, time=0))
    track.append(mido.Message('note_off', note=note, velocity=0, time=bar_ticks))
mid.save(out)
