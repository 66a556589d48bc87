#!/usr/bin/env python3
"""Writes the hymn academy's lesson files, one per catalogue category, into
src/hymns/data/. The workstation compiles them into its resources and reads them
when it starts.

Run from anywhere: python3 tools/hymns/generate_hymn_catalogue.py
The output is deterministic: the same script writes the same files.

Lessons whose tune and text pass the public-domain rule (real_tunes.py) teach the
real melody with its words. Every other lesson gets an original practice melody,
composed here over the lesson's chords, without words: its tune and text are
recorded as "original".
"""

import hashlib
import json
import os
import random
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from catalogue_titles import ACADEMY, DENOMINATIONAL, HYMNAL  # noqa: E402
from real_tunes import REAL_LESSONS  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.path.join(ROOT, "src", "hymns", "data")

CATEGORIES = {
    "C": ("Classic Church Hymns", "classic_church_hymns.json"),
    "P": ("Praise & Worship Choruses", "praise_worship_choruses.json"),
    "S": ("Swahili & African Gospel", "swahili_african_gospel.json"),
    "T": ("Tenzi za Rohoni (1–161)", "tenzi_za_rohoni.json"),
}

# Chord codes: name and left-hand voicing.
CHORDS = {
    1: ("C (I)", [48, 52, 55]),
    2: ("Dm7 (ii)", [50, 53, 57, 60]),
    3: ("Em7 (iii)", [40, 47, 52, 55]),
    4: ("F (IV)", [41, 48, 53, 57]),
    5: ("G7 (V)", [43, 47, 50, 53]),
    6: ("Am (vi)", [45, 52, 57]),
    17: ("C7 (I7)", [48, 52, 55, 58]),
    27: ("D7 (II7)", [50, 54, 57, 60]),
}
LABELS = {1: "I", 2: "ii7", 3: "iii7", 4: "IV", 5: "V7", 6: "vi", 17: "I7", 27: "II7"}
LOW, HIGH = 52, 76  # melody range
SCALE = [n for n in range(LOW, HIGH + 1) if n % 12 in (0, 2, 4, 5, 7, 9, 11)]
NOTE_NAMES = ["C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"]

SYLLABLES = ["d", "de", "r", "re", "m", "f", "fe", "s", "se", "l", "ta", "t"]
DEGREES = ["1", "#1", "2", "#2", "3", "4", "#4", "5", "#5", "6", "b7", "7"]


def solfa(note):
    """Tonic sol-fa in C with its degree: 55 "s₁ (5)", 73 "de¹ (#8)"."""
    octave = note // 12 - 5
    mark = "" if octave == 0 else ("₁₂₃"[-octave - 1] if octave < 0 else "¹²³"[octave - 1])
    degree = DEGREES[note % 12]
    if octave > 0:
        prefix = degree.rstrip("0123456789")
        degree = prefix + str(int(degree[len(prefix):]) + 7 * octave)
    return f"{SYLLABLES[note % 12]}{mark} ({degree})"


def finger(note):
    if note < 61:
        return "RH 1 (Thumb)"
    if note <= 62:
        return "RH 2 (Index)"
    if note <= 64:
        return "RH 3 (Middle)"
    if note <= 67:
        return "RH 4 (Ring)"
    return "RH 5 (Pinky)"


def pitch(name):
    match = re.fullmatch(r"([A-G])(#|b)?(-?\d)", name)
    pc = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}[match.group(1)]
    pc += {"#": 1, "b": -1, None: 0}[match.group(2)]
    return pc + 12 * (int(match.group(3)) + 1)


def note_name(note):
    return f"{NOTE_NAMES[note % 12]}{note // 12 - 1}"


def chord_tones(code):
    return {n % 12 for n in CHORDS[code][1]}


def passes_public_domain(work):
    """First published before 1930, every person dead before 1955; anonymous or
    traditional work published before 1900. Anything unknown fails."""
    if not isinstance(work, dict):
        return False
    published = work.get("published")
    if not isinstance(published, int) or published >= 1930:
        return False
    people = work.get("people", [])
    if work.get("traditional"):
        if published >= 1900:
            return False
    elif not people:
        return False
    return all(isinstance(p.get("died"), int) and p["died"] < 1955 for p in people)


def slug(title):
    head = title.split(" (")[0].split(" — ")[0]
    return re.sub(r"[^a-z0-9]+", "_", head.replace("'", "").lower()).strip("_")


# ---------------------------------------------------------------- composing

# Eight-bar progressions; a pair is a bar whose chord changes on beat 3.
HYMNAL_PROGRESSIONS = [
    [1, 4, 1, 5, 1, 4, (1, 5), 1],
    [1, 6, 4, 5, 1, 6, (2, 5), 1],
    [1, (4, 1), (6, 2), 5, 1, (4, 1), (2, 5), 1],
    [1, 3, 4, 1, 6, 2, 5, 1],
    [1, 1, 4, 1, 1, 1, (2, 5), 1],
    [(1, 6), (4, 5), (1, 6), 5, (1, 6), (4, 5), (2, 5), 1],
    [6, 4, 1, 5, 6, 4, 5, 1],
    [1, 5, 6, 3, 4, 1, (4, 5), 1],
    [1, (4, 5), 1, (6, 5), 1, (4, 5), (6, 5), 1],
    [4, 1, 2, 5, 4, 1, (2, 5), 1],
]
ACADEMY_PROGRESSIONS = HYMNAL_PROGRESSIONS + [
    [1, (17, 4), 1, (27, 5), 1, (17, 4), 5, 1],
    [1, 6, 2, 5, (1, 17), 4, (27, 5), 1],
    [1, 4, 6, 5, (4, 1), (27, 5), (2, 5), 1],
]
GROOVE_PROGRESSIONS = [
    [1, 4, 1, 5, 1, 4, 1, 5],
    [1, 4, 5, 4, 1, 4, 5, 1],
    [1, 6, 4, 5, 1, 6, 4, 5],
    [6, 4, 5, 6, 6, 4, 5, 1],
    [1, 3, 4, 5, 1, 3, (4, 5), 1],
    [1, 4, 5, 1, 1, 4, (5, 1), 1],
]

RHYTHMS = {
    4: [[1, 1, 1, 1], [2, 1, 1], [1, 1, 2], [1.5, 0.5, 1, 1], [2, 2], [1, 0.5, 0.5, 1, 1], [1, 1, 1, 0.5, 0.5],
        [0.5, 0.5, 1, 2], [3, 1]],
    3: [[1, 1, 1], [2, 1], [1.5, 0.5, 1], [1, 0.5, 0.5, 1], [1, 2]],
}
GROOVE_RHYTHMS = {
    4: [[1.5, 1.5, 1], [0.5, 1, 0.5, 2], [1, 0.5, 0.5, 1, 1], [1.5, 0.5, 1, 1], [0.5, 0.5, 1, 0.5, 0.5, 1]],
    3: [[1.5, 0.5, 1], [1, 0.5, 0.5, 1], [0.5, 0.5, 1, 1]],
}
PHRASE_ENDS = {4: [[2, 2], [1, 1, 2], [4]], 3: [[2, 1], [3]]}


def onsets(pattern):
    out, t = [], 0.0
    for length in pattern:
        out.append(t)
        t += length
    return out


def pick_rhythm(rng, meter, bar, split, groove):
    if bar == 7:
        return [meter] if not split else ([2, 2] if meter == 4 else [2, 1])
    pool = PHRASE_ENDS[meter] if bar == 3 else (RHYTHMS[meter] + (GROOVE_RHYTHMS[meter] if groove else []))
    if split:
        pool = [p for p in pool if 2 in onsets(p)]
    return list(rng.choice(pool))


def compose(rng, meter, progression, groove):
    """A melody over the progression: every note where the chord changes is a chord
    tone, the others move by step or small leap toward a phrase contour."""
    peak1 = rng.choice([67, 69, 71])
    peak2 = rng.choice([69, 71, 72, 74])
    start = rng.choice([60, 64, 67])
    contour = [start, peak1 - 2, peak1, 64, start, peak2 - 2, peak2, 60]
    steps, prev, prev_chord = [], None, None
    for bar, chords in enumerate(progression):
        split = isinstance(chords, tuple)
        pattern = pick_rhythm(rng, meter, bar, split, groove)
        for t, length in zip(onsets(pattern), pattern):
            chord = chords[1] if split and t >= 2 else (chords[0] if split else chords)
            target = contour[bar]
            last = bar == len(progression) - 1 and t == onsets(pattern)[-1]
            if last and chord == 1:
                note = min((60, 72), key=lambda p: abs(p - (prev or 60)))
            elif chord != prev_chord or prev is None:
                tones = chord_tones(chord)
                candidates = [p for p in SCALE if p % 12 in tones and 55 <= p <= 74]
                near = [p for p in candidates if prev is None or abs(p - prev) <= 9] or candidates
                note = min(near, key=lambda p: abs(p - target) * 0.6 + (abs(p - prev) if prev else 0)
                           + rng.random() * 2.5)
            else:
                index = SCALE.index(prev)
                direction = 1 if target > prev else (-1 if target < prev else rng.choice((-1, 1)))
                moves = [(direction, 5), (-direction, 2), (2 * direction, 2), (0, 1), (-2 * direction, 1)]
                move = rng.choices([m for m, _ in moves], weights=[w for _, w in moves])[0]
                index = min(max(index + move, SCALE.index(55)), SCALE.index(74))
                note = SCALE[index]
                # Long notes and strong beats rest on the chord; the rest may pass.
                if (length >= 1.5 or t in (0, 2)) and note % 12 not in chord_tones(chord):
                    tones = [p for p in SCALE if p % 12 in chord_tones(chord) and 55 <= p <= 74]
                    note = min(tones, key=lambda p: (abs(p - note), abs(p - prev)))
            steps.append((note, length, chord, ""))
            prev, prev_chord = note, chord
    return steps


# ---------------------------------------------------------------- words about a lesson

FLAVOURS = [
    (lambda c: 17 in c or 27 in c, "Gospel Secondary Dominants"),
    (lambda c: 2 in c and 5 in c, "ii–V Turnaround Home"),
    (lambda c: 3 in c, "Mediant Colour Walk"),
    (lambda c: 6 in c, "Relative-Minor Lift"),
    (lambda c: True, "Plagal & Authentic Cadences"),
]
GROOVE_FLAVOURS = ["Congregational Groove", "Praise Break Loop", "Kwaya Call & Response", "Dance Floor Vamp"]


def progression_summary(steps, groove, rng):
    codes = [code for _, _, code, _ in steps]
    changes = [codes[0]] + [c for a, c in zip(codes, codes[1:]) if c != a]
    shown = changes[:8] + (["…"] if len(changes) > 8 else [])
    flavour = rng.choice(GROOVE_FLAVOURS) if groove else next(f for test, f in FLAVOURS if test(set(codes)))
    return " – ".join(LABELS.get(c, c) for c in shown) + f" ({flavour})"


def original_tip(steps, meter, tempo, style):
    notes = [n for n, _, _, _ in steps]
    codes = {c for _, _, c, _ in steps}
    peak = max(notes)
    if meter == 3:
        pulse = "Feel three beats a bar (two slow swings in 6/8 styles)"
    else:
        pulse = "Count four steady beats a bar"
    if tempo <= 78:
        pace = f"at {tempo} BPM let every note ring its full length"
    elif tempo >= 108:
        pace = f"at {tempo} BPM keep the fingers close to the keys"
    else:
        pace = f"at {tempo} BPM keep a singing legato"
    if 17 in codes or 27 in codes:
        harmony = "C7 and D7 are passing dominants: let the left hand lean into the chord that follows."
    elif 2 in codes and 5 in codes:
        harmony = "Listen for Dm7 to G7 pulling the phrase home to C."
    elif 6 in codes:
        harmony = "Soften the touch where the chord turns to Am (vi)."
    else:
        harmony = "Change the left-hand chord exactly on the beat where the melody lands on a chord tone."
    return f"{pulse}; {pace}. The line peaks at {note_name(peak)} with finger 5. {harmony}"


# ---------------------------------------------------------------- lessons

def build_steps(raw, explicit):
    steps, start = [], 0.0
    for note, length, code, lyric in raw:
        note = pitch(note) if isinstance(note, str) else note
        assert LOW <= note <= HIGH, note
        if explicit:
            name, voicing = CHORDS[code]
            steps.append({"note": note, "chord": voicing, "chordName": name, "lyric": lyric,
                          "solfa": solfa(note), "finger": finger(note), "start": start, "length": length})
        else:
            steps.append([note, code, lyric, length])
        start += length
    return steps


def make_lesson(position, lesson_id, title, category, style, tempo, group):
    rng = random.Random(hashlib.sha256(lesson_id.encode()).hexdigest())
    groove = category == "S" and style not in (24, 25, 22) or (category == "P" and tempo >= 96)
    real = REAL_LESSONS.get(lesson_id)
    if real:
        meter, raw, tune, text, verse, tip = real
        raw = [(pitch(n), length, code, lyric) for n, length, code, lyric in raw]
        assert passes_public_domain(tune) and passes_public_domain(text), lesson_id
    else:
        meter = 3 if style in (22, 25) or (category == "C" and tempo <= 80 and rng.random() < 0.35) else 4
        pool = GROOVE_PROGRESSIONS if groove else (HYMNAL_PROGRESSIONS if group == "hymnal"
                                                   else ACADEMY_PROGRESSIONS)
        raw = compose(rng, meter, rng.choice(pool), groove)
        tune, text, verse = "original", "original", ""
        tip = original_tip(raw, meter, tempo, style)
    if group == "hymnal":
        assert all(1 <= code <= 6 for _, _, code, _ in raw), lesson_id
    return {
        "position": position,
        "id": lesson_id,
        "title": title,
        "category": CATEGORIES[category][0],
        "style": style,
        "tempo": tempo,
        "progression": progression_summary(raw, groove and not real, rng),
        "tip": tip,
        "form": group,
        "tune": tune,
        "text": text,
        "fullLyrics": verse,
        "steps": build_steps(raw, group == "explicit"),
    }


def lessons():
    out = []
    for position, (title, category, style, tempo) in enumerate(ACADEMY):
        group = "explicit" if position < 16 else "compact"
        out.append(make_lesson(position, slug(title), title, category, style, tempo, group))
    for number, (name, style, tempo) in enumerate(HYMNAL, start=1):
        title = f"Tenzi {number:03d}. {name}"
        out.append(make_lesson(119 + number, f"tenzi_{number:03d}", title, "T", style, tempo, "hymnal"))
    for offset, (lesson_id, title, category, style, tempo) in enumerate(DENOMINATIONAL):
        out.append(make_lesson(281 + offset, lesson_id, title, category, style, tempo, "hymnal"))
    ids = [lesson["id"] for lesson in out]
    assert len(out) == 301 and len(set(ids)) == 301
    return out


# ---------------------------------------------------------------- writing

def dump(value):
    return json.dumps(value, ensure_ascii=False)


def write_file(path, category, entries):
    lines = ["{", f'  "category": {dump(category)},', '  "lessons": [']
    for i, lesson in enumerate(entries):
        lines.append("    {")
        fields = [k for k in lesson if k != "steps"]
        for key in fields:
            lines.append(f"      {dump(key)}: {dump(lesson[key])},")
        lines.append('      "steps": [')
        steps = lesson["steps"]
        for j, step in enumerate(steps):
            lines.append(f"        {dump(step)}{',' if j + 1 < len(steps) else ''}")
        lines.append("      ]")
        lines.append("    }" + ("," if i + 1 < len(entries) else ""))
    lines += ["  ]", "}", ""]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


def main():
    os.makedirs(OUT, exist_ok=True)
    everything = lessons()
    for key, (category, file_name) in CATEGORIES.items():
        entries = [lesson for lesson in everything if lesson["category"] == category]
        write_file(os.path.join(OUT, file_name), category, entries)
        print(f"{file_name}: {len(entries)} lessons")
    real = [lesson for lesson in everything if lesson["tune"] != "original" or lesson["text"] != "original"]
    for lesson in real:
        print(f"  real: {lesson['position']:3d} {lesson['id']}: {lesson['tune']['work']} / "
              f"{lesson['text']['work'] if lesson['text'] != 'original' else 'no words'}")


if __name__ == "__main__":
    main()
