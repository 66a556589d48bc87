#!/usr/bin/python3
"""Writes a varied format-1 Standard MIDI File with mido, an independent writer,
then prints every channel message as mido itself reads the file back, one per line:

    seconds tick track status channel data1 data2

The reader test compares our parse against these lines. Run with Debian's
/usr/bin/python3 (python3-mido).  Usage: mido_reference.py OUT.mid [SEED]
"""
import random
import sys

import mido

path = sys.argv[1]
rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 7)

mid = mido.MidiFile(type=1, ticks_per_beat=384)

# Track 0: tempo map and meta events only.
conductor = mido.MidiTrack()
conductor.append(mido.MetaMessage('track_name', name='Conductor', time=0))
conductor.append(mido.MetaMessage('time_signature', numerator=3, denominator=4, time=0))
conductor.append(mido.MetaMessage('set_tempo', tempo=600000, time=0))
for _ in range(6):
    conductor.append(mido.MetaMessage('set_tempo', tempo=rng.randrange(250000, 1500000),
                                      time=rng.randrange(100, 2000)))
mid.tracks.append(conductor)

# Three instrument tracks with every kind of channel message; mido writes running
# status whenever consecutive messages share a status byte.
for channel in (0, 1, 9):
    track = mido.MidiTrack()
    track.append(mido.MetaMessage('track_name', name=f'Part {channel}', time=0))
    track.append(mido.Message('program_change', channel=channel, program=rng.randrange(128), time=0))
    for _ in range(120):
        kind = rng.random()
        delta = rng.choice([0, 0, 1, 47, 96, 384, 1000])
        if kind < 0.55:
            note = rng.randrange(30, 100)
            track.append(mido.Message('note_on', channel=channel, note=note,
                                      velocity=rng.randrange(1, 128), time=delta))
            # Note offs as note-on with velocity 0 (running status) or as real note offs.
            if rng.random() < 0.5:
                track.append(mido.Message('note_on', channel=channel, note=note, velocity=0,
                                          time=rng.randrange(1, 400)))
            else:
                track.append(mido.Message('note_off', channel=channel, note=note,
                                          velocity=rng.randrange(128), time=rng.randrange(1, 400)))
        elif kind < 0.7:
            track.append(mido.Message('control_change', channel=channel, control=rng.randrange(120),
                                      value=rng.randrange(128), time=delta))
        elif kind < 0.8:
            track.append(mido.Message('pitchwheel', channel=channel, pitch=rng.randrange(-8192, 8192),
                                      time=delta))
        elif kind < 0.86:
            track.append(mido.Message('aftertouch', channel=channel, value=rng.randrange(128), time=delta))
        elif kind < 0.92:
            track.append(mido.Message('polytouch', channel=channel, note=rng.randrange(128),
                                      value=rng.randrange(128), time=delta))
        elif kind < 0.96:
            track.append(mido.Message('sysex', data=[0x7E, 0x7F, 0x09, 0x01], time=delta))
        else:
            track.append(mido.Message('program_change', channel=channel, program=rng.randrange(128),
                                      time=delta))
    mid.tracks.append(track)

mid.save(path)

# Read back with mido: merged tracks, times in seconds through mido's own tempo map.
STATUS = {'note_off': 0x80, 'note_on': 0x90, 'polytouch': 0xA0, 'control_change': 0xB0,
          'program_change': 0xC0, 'aftertouch': 0xD0, 'pitchwheel': 0xE0}
back = mido.MidiFile(path)
# Absolute ticks and track index per channel message, in merged order (stable by tick).
merged = []
for index, track in enumerate(back.tracks):
    tick = 0
    for msg in track:
        tick += msg.time
        if not msg.is_meta and msg.type in STATUS:
            merged.append((tick, index, msg))
merged.sort(key=lambda item: item[0])
# mido's own playback stream gives each message's time in seconds.
now = 0.0
played = []
for msg in back:
    now += msg.time
    if not msg.is_meta and msg.type in STATUS:
        played.append((now, msg))
assert len(played) == len(merged)
for (tick, index, msg), (now, heard) in zip(merged, played):
    assert heard.type == msg.type and heard.channel == msg.channel
    if msg.type == 'pitchwheel':
        value = msg.pitch + 8192
        d1, d2 = value & 0x7F, value >> 7
    elif msg.type in ('note_on', 'note_off'):
        d1, d2 = msg.note, msg.velocity
    elif msg.type == 'polytouch':
        d1, d2 = msg.note, msg.value
    elif msg.type == 'control_change':
        d1, d2 = msg.control, msg.value
    elif msg.type == 'program_change':
        d1, d2 = msg.program, 0
    else:
        d1, d2 = msg.value, 0
    print(f'{now:.9f} {tick} {index} {STATUS[msg.type]} {msg.channel} {d1} {d2}')
