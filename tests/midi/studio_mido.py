#!/usr/bin/python3
"""Reads a Standard MIDI File with mido, an independent reader, and prints its notes
by the studio's import rules: channels merged, ticks counted per track, a note-on
pairs with the next note-off (or velocity-0 note-on) of its pitch in its own track,
a later note-on of a held pitch restarts it, and notes still held when their track
ends are dropped. Run with Debian's /usr/bin/python3 (python3-mido).

Output: "division D tempo T" (T: microseconds per quarter of the last tempo in file
order, 0 when there is none), then one note a line: "on_tick off_tick pitch velocity".
Usage: studio_mido.py FILE.mid
"""
import sys

import mido

mid = mido.MidiFile(sys.argv[1])
tempo = 0
notes = []
for track in mid.tracks:
    tick = 0
    held = {}
    for msg in track:
        tick += msg.time
        if msg.type == 'set_tempo' and msg.tempo > 0:
            tempo = msg.tempo
        elif msg.type == 'note_on' and msg.velocity > 0:
            held[msg.note] = (tick, msg.velocity)
        elif msg.type in ('note_on', 'note_off') and msg.note in held:
            on, velocity = held.pop(msg.note)
            notes.append((on, tick, msg.note, velocity))
print('division', mid.ticks_per_beat, 'tempo', tempo)
for note in notes:
    print(*note)
