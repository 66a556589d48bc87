#!/usr/bin/python3
"""Writes a two-part tune with tempo changes as a format-1 Standard MIDI File with
mido (an independent writer), then prints every note as mido reads the file back,
one per line:

    onset_seconds duration_seconds channel pitch

Melody on channel index 0 (the main zone), bass on index 1 (the layer). mido writes
running status; half the note offs are note-ons with velocity 0. Run with Debian's
/usr/bin/python3 (python3-mido).  Usage: mido_tune.py OUT.mid
"""
import sys

import mido

path = sys.argv[1]
TICKS = 240

# (beat, beats long, pitch): no two notes sounding together (or within a short
# release) share a frequency, an octave or a twelfth, so each can be heard alone.
melody = [(0, 1, 69), (1, 1, 76), (2, 1, 74), (3, 1, 79), (4, 1, 76), (5, 1, 62), (6, 2, 79), (8, 4, 69)]
bass = [(0, 2, 43), (2, 2, 53), (4, 2, 47), (6, 2, 53), (8, 4, 40)]


def part(notes, channel):
    events = []
    for i, (beat, length, pitch) in enumerate(notes):
        events.append((beat * TICKS, 1, mido.Message('note_on', channel=channel, note=pitch, velocity=100)))
        end = (beat + length) * TICKS - 12
        if i % 2:
            off = mido.Message('note_off', channel=channel, note=pitch, velocity=40)
        else:
            off = mido.Message('note_on', channel=channel, note=pitch, velocity=0)
        events.append((end, 0, off))
    events.sort(key=lambda e: (e[0], e[1]))
    track = mido.MidiTrack()
    now = 0
    for tick, _, msg in events:
        track.append(msg.copy(time=tick - now))
        now = tick
    return track


conductor = mido.MidiTrack()
# 96 BPM, from beat 3 at 150 BPM, from beat 6 at 80 BPM.
conductor.append(mido.MetaMessage('set_tempo', tempo=625000, time=0))
conductor.append(mido.MetaMessage('set_tempo', tempo=400000, time=3 * TICKS))
conductor.append(mido.MetaMessage('set_tempo', tempo=750000, time=3 * TICKS))

mid = mido.MidiFile(type=1, ticks_per_beat=TICKS)
mid.tracks.extend([conductor, part(melody, 0), part(bass, 1)])
mid.save(path)

# Read back: mido's own playback stream gives the times in seconds.
now = 0.0
starts = {}
for msg in mido.MidiFile(path):
    now += msg.time
    if msg.type == 'note_on' and msg.velocity > 0:
        starts[(msg.channel, msg.note)] = now
    elif msg.type in ('note_on', 'note_off'):
        begin = starts.pop((msg.channel, msg.note))
        print(f'{begin:.6f} {now - begin:.6f} {msg.channel} {msg.note}')
