#!/usr/bin/python3
"""Writes a General MIDI song for the SoundFont benchmark: chords, melody, bass and
drums on their usual channels, at 120 BPM, with program, bank and controller changes.

usage: /usr/bin/python3 gm_song.py OUT.mid [SECONDS]   (default 60)
Needs python3-mido (Debian's /usr/bin/python3 sees it; another python3 may not).
"""
import random
import sys

import mido

TICKS = 480                      # per quarter note
BAR = 4 * TICKS
PROGRESSION = [(48, 52, 55), (43, 47, 50), (45, 48, 52), (41, 45, 48)]  # C G Am F
SCALE = [60, 62, 64, 65, 67, 69, 71, 72, 74, 76]


def absolute_track(events):
    """events: (tick, message) in any order -> a track with delta times."""
    track = mido.MidiTrack()
    now = 0
    for tick, message in sorted(events, key=lambda e: (e[0], e[1].type == 'note_on')):
        track.append(message.copy(time=tick - now))
        now = tick
    track.append(mido.MetaMessage('end_of_track', time=0))
    return track


def song(seconds):
    bars = max(1, int(seconds / 2))  # 2 s a bar at 120 BPM
    rng = random.Random(2024)
    conductor = [(0, mido.MetaMessage('set_tempo', tempo=500000)),
                 (0, mido.MetaMessage('time_signature', numerator=4, denominator=4))]
    chords, melody, bass, drums = [], [], [], []

    # Chords: strings, held for a bar, on channel 1 (index 0); a bank select first.
    chords += [(0, mido.Message('control_change', channel=0, control=0, value=0)),
               (0, mido.Message('program_change', channel=0, program=48)),
               (0, mido.Message('control_change', channel=0, control=7, value=90)),
               (0, mido.Message('control_change', channel=0, control=10, value=40))]
    # Melody: flute on channel 2, switching to an electric piano from bank 8 halfway.
    melody += [(0, mido.Message('program_change', channel=1, program=73)),
               (0, mido.Message('control_change', channel=1, control=10, value=90))]
    half = (bars // 2) * BAR
    melody += [(half, mido.Message('control_change', channel=1, control=0, value=8)),
               (half, mido.Message('program_change', channel=1, program=4))]
    # Bass: fingered bass on channel 3.
    bass += [(0, mido.Message('program_change', channel=2, program=33))]

    for bar in range(bars):
        start = bar * BAR
        chord = PROGRESSION[bar % len(PROGRESSION)]
        for note in chord:
            chords.append((start, mido.Message('note_on', channel=0, note=note + 12, velocity=70)))
            chords.append((start + BAR - 10, mido.Message('note_off', channel=0, note=note + 12)))
        for beat in range(4):
            note = chord[0] - 12 + (7 if beat % 2 else 0)
            t = start + beat * TICKS
            bass.append((t, mido.Message('note_on', channel=2, note=note, velocity=95)))
            bass.append((t + TICKS - 20, mido.Message('note_off', channel=2, note=note)))
        for eighth in range(8):
            t = start + eighth * TICKS // 2
            if rng.random() < 0.8:
                note = rng.choice(SCALE)
                melody.append((t, mido.Message('note_on', channel=1, note=note, velocity=rng.randint(70, 110))))
                melody.append((t + TICKS // 2 - 10, mido.Message('note_off', channel=1, note=note)))
            # Drums on channel 10: kick on 1 and 3, snare on 2 and 4, closed hi-hat on eighths.
            hits = [42]
            if eighth in (0, 4):
                hits.append(36)
            if eighth in (2, 6):
                hits.append(38)
            if eighth == 0 and bar % 4 == 0:
                hits.append(49)
            for hit in hits:
                drums.append((t, mido.Message('note_on', channel=9, note=hit, velocity=100)))
                drums.append((t + 60, mido.Message('note_off', channel=9, note=hit)))
        # Pitch bend on the melody now and then.
        if bar % 8 == 7:
            for step in range(8):
                melody.append((start + step * 60, mido.Message('pitchwheel', channel=1, pitch=step * 500)))
            melody.append((start + BAR - 1, mido.Message('pitchwheel', channel=1, pitch=0)))

    midi = mido.MidiFile(type=1, ticks_per_beat=TICKS)
    for events in (conductor, chords, melody, bass, drums):
        midi.tracks.append(absolute_track(events))
    return midi


if __name__ == '__main__':
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    song(float(sys.argv[2]) if len(sys.argv) == 3 else 60.0).save(sys.argv[1])
