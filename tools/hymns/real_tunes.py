"""Hymn tunes and texts old enough to be in the public domain, written in C.

A work counts as public domain only when it was first published before 1930 and
every author, translator, composer and arranger died before 1955; an anonymous or
traditional work must have been first published before 1900. Each work below
records what that judgement rests on. A lesson takes a tune note for note (an
excerpt of it at most) and a text word for word.

Steps are (pitch, length in beats, chord code, syllable); "_" continues the
previous syllable over a slur.
"""


def person(name, role, died):
    return {"name": name, "role": role, "died": died}


# ---------------------------------------------------------------- provenance

NEW_BRITAIN = {
    "work": "NEW BRITAIN (anonymous American melody, Virginia Harmony)",
    "published": 1831,
    "traditional": True,
    "people": [],
}
AMAZING_GRACE_TEXT = {
    "work": "Amazing Grace (Olney Hymns)",
    "published": 1779,
    "traditional": False,
    "people": [person("John Newton", "author", 1807)],
}
HYMN_TO_JOY = {
    "work": "HYMN TO JOY (Symphony No. 9), arranged for hymn singing",
    "published": 1826,
    "traditional": False,
    "people": [person("Ludwig van Beethoven", "composer", 1827), person("Edward Hodges", "arranger", 1867)],
}
JOYFUL_JOYFUL_TEXT = {
    "work": "Joyful, Joyful, We Adore Thee",
    "published": 1911,
    "traditional": False,
    "people": [person("Henry van Dyke", "author", 1933)],
}
ANTIOCH = {
    "work": "ANTIOCH (The Modern Psalmist)",
    "published": 1839,
    "traditional": False,
    "people": [person("Lowell Mason", "arranger", 1872), person("George Frideric Handel", "composer", 1759)],
}
JOY_TO_THE_WORLD_TEXT = {
    "work": "Joy to the World (The Psalms of David Imitated)",
    "published": 1719,
    "traditional": False,
    "people": [person("Isaac Watts", "author", 1748)],
}
STILLE_NACHT = {
    "work": "STILLE NACHT",
    "published": 1833,
    "traditional": False,
    "people": [person("Franz Xaver Gruber", "composer", 1863)],
}
SILENT_NIGHT_TEXT = {
    "work": "Silent Night (English translation)",
    "published": 1859,
    "traditional": False,
    "people": [person("Joseph Mohr", "author", 1848), person("John Freeman Young", "translator", 1885)],
}
ADESTE_FIDELES = {
    "work": "ADESTE FIDELES",
    "published": 1782,
    "traditional": False,
    "people": [person("John Francis Wade", "composer", 1786)],
}
O_COME_TEXT = {
    "work": "O Come, All Ye Faithful (English translation)",
    "published": 1852,
    "traditional": False,
    "people": [person("John Francis Wade", "author", 1786), person("Frederick Oakeley", "translator", 1880)],
}
MENDELSSOHN = {
    "work": "MENDELSSOHN (Festgesang), adapted for hymn singing",
    "published": 1856,
    "traditional": False,
    "people": [person("Felix Mendelssohn", "composer", 1847), person("William H. Cummings", "arranger", 1915)],
}
HARK_TEXT = {
    "work": "Hark! the Herald Angels Sing",
    "published": 1753,
    "traditional": False,
    "people": [person("Charles Wesley", "author", 1788), person("George Whitefield", "author", 1770)],
}

# ---------------------------------------------------------------- tunes

AMAZING_GRACE = [
    ("G3", 1, 1, "A-"), ("C4", 2, 1, "maz-"), ("E4", 0.5, 1, "ing"), ("C4", 0.5, 1, "_"),
    ("E4", 2, 1, "grace!"), ("D4", 1, 17, "How"), ("C4", 2, 4, "sweet"), ("A3", 1, 4, "the"),
    ("G3", 2, 1, "sound"), ("G3", 1, 1, "That"), ("C4", 2, 1, "saved"), ("E4", 0.5, 1, "a"),
    ("C4", 0.5, 1, "_"), ("E4", 2, 1, "wretch"), ("D4", 1, 5, "like"), ("G4", 2, 5, "me!"),
    ("E4", 1, 1, "I"), ("G4", 2, 1, "once"), ("E4", 0.5, 1, "was"), ("C4", 0.5, 1, "_"),
    ("E4", 2, 1, "lost,"), ("D4", 1, 17, "but"), ("C4", 2, 4, "now"), ("A3", 1, 4, "am"),
    ("G3", 2, 1, "found;"), ("G3", 1, 1, "Was"), ("C4", 2, 1, "blind,"), ("E4", 0.5, 1, "but"),
    ("C4", 0.5, 1, "_"), ("E4", 2, 1, "now"), ("D4", 1, 5, "I"), ("C4", 3, 1, "see."),
]

# Four lines of the hymn: the second and fourth end on the tonic.
JOYFUL_JOYFUL = [
    ("E4", 1, 1, "Joy-"), ("E4", 1, 1, "ful,"), ("F4", 1, 1, "joy-"), ("G4", 1, 1, "ful,"),
    ("G4", 1, 5, "we"), ("F4", 1, 5, "a-"), ("E4", 1, 5, "dore"), ("D4", 1, 5, "Thee,"),
    ("C4", 1, 1, "God"), ("C4", 1, 1, "of"), ("D4", 1, 1, "glo-"), ("E4", 1, 1, "ry,"),
    ("E4", 1.5, 1, "Lord"), ("D4", 0.5, 5, "of"), ("D4", 2, 5, "love;"),
    ("E4", 1, 1, "Hearts"), ("E4", 1, 1, "un-"), ("F4", 1, 1, "fold"), ("G4", 1, 1, "like"),
    ("G4", 1, 5, "flow'rs"), ("F4", 1, 5, "be-"), ("E4", 1, 5, "fore"), ("D4", 1, 5, "Thee,"),
    ("C4", 1, 1, "Op-"), ("C4", 1, 1, "'ning"), ("D4", 1, 1, "to"), ("E4", 1, 1, "the"),
    ("D4", 1.5, 5, "sun"), ("C4", 0.5, 5, "a-"), ("C4", 2, 1, "bove."),
    ("D4", 1, 5, "Melt"), ("D4", 1, 5, "the"), ("E4", 1, 1, "clouds"), ("C4", 1, 1, "of"),
    ("D4", 1, 5, "sin"), ("E4", 0.5, 1, "and"), ("F4", 0.5, 1, "_"), ("E4", 1, 1, "sad-"),
    ("C4", 1, 1, "ness;"), ("D4", 1, 5, "Drive"), ("E4", 0.5, 1, "the"), ("F4", 0.5, 1, "_"),
    ("E4", 1, 1, "dark"), ("D4", 1, 5, "of"), ("C4", 1, 1, "doubt"), ("D4", 1, 5, "a-"),
    ("G3", 2, 5, "way;"),
    ("E4", 1, 1, "Giv-"), ("E4", 1, 1, "er"), ("F4", 1, 1, "of"), ("G4", 1, 1, "im-"),
    ("G4", 1, 5, "mor-"), ("F4", 1, 5, "tal"), ("E4", 1, 5, "glad-"), ("D4", 1, 5, "ness,"),
    ("C4", 1, 1, "Fill"), ("C4", 1, 1, "us"), ("D4", 1, 1, "with"), ("E4", 1, 1, "the"),
    ("D4", 1.5, 5, "light"), ("C4", 0.5, 5, "of"), ("C4", 2, 1, "day!"),
]

# The opening two lines.
JOY_TO_THE_WORLD = [
    ("C5", 1, 1, "Joy"), ("B4", 0.75, 1, "to"), ("A4", 0.25, 1, "the"), ("G4", 1.5, 1, "world!"),
    ("F4", 0.5, 4, "the"), ("E4", 1, 1, "Lord"), ("D4", 1, 5, "is"), ("C4", 1.5, 1, "come;"),
    ("G4", 0.5, 5, "Let"), ("A4", 1.5, 4, "earth"), ("A4", 0.5, 4, "re-"), ("B4", 1.5, 5, "ceive"),
    ("B4", 0.5, 5, "her"), ("C5", 2, 1, "King;"),
]

# The first four lines; the last two climb above the lesson's range.
SILENT_NIGHT = [
    ("G4", 1.5, 1, "Si-"), ("A4", 0.5, 1, "lent"), ("G4", 1, 1, "night,"), ("E4", 3, 1, "_"),
    ("G4", 1.5, 1, "ho-"), ("A4", 0.5, 1, "ly"), ("G4", 1, 1, "night,"), ("E4", 3, 1, "_"),
    ("D5", 2, 5, "All"), ("D5", 1, 5, "is"), ("B4", 3, 5, "calm,"),
    ("C5", 2, 1, "all"), ("C5", 1, 1, "is"), ("G4", 3, 1, "bright"),
    ("A4", 2, 4, "Round"), ("A4", 1, 4, "yon"), ("C5", 1.5, 4, "Vir-"), ("B4", 0.5, 4, "gin"),
    ("A4", 1, 4, "Moth-"), ("G4", 1.5, 1, "er"), ("A4", 0.5, 1, "and"), ("G4", 1, 1, "Child,"),
    ("E4", 3, 1, "_"),
    ("A4", 2, 4, "Ho-"), ("A4", 1, 4, "ly"), ("C5", 1.5, 4, "In-"), ("B4", 0.5, 4, "fant"),
    ("A4", 1, 4, "so"), ("G4", 1.5, 1, "ten-"), ("A4", 0.5, 1, "der"), ("G4", 1, 1, "and"),
    ("E4", 3, 1, "mild,"),
]

# The opening two lines.
O_COME_ALL_YE_FAITHFUL = [
    ("C4", 1, 1, "O"), ("C4", 2, 1, "come,"), ("G3", 1, 5, "all"), ("C4", 1, 1, "ye"),
    ("D4", 2, 5, "faith-"), ("G3", 2, 5, "ful,"), ("E4", 1, 1, "Joy-"), ("D4", 1, 5, "ful"),
    ("E4", 1, 1, "and"), ("F4", 1, 4, "tri-"), ("E4", 2, 1, "um-"), ("D4", 2, 5, "phant,"),
]

# The opening two lines.
HARK_THE_HERALD = [
    ("G3", 1, 1, "Hark!"), ("C4", 1, 1, "the"), ("C4", 1.5, 1, "her-"), ("B3", 0.5, 5, "ald"),
    ("C4", 1, 1, "an-"), ("E4", 1, 1, "gels"), ("E4", 1, 1, "sing,"), ("D4", 1, 5, "_"),
    ("G4", 1, 1, "\"Glo-"), ("G4", 1, 1, "ry"), ("G4", 1.5, 1, "to"), ("F4", 0.5, 5, "the"),
    ("E4", 1, 1, "new-"), ("D4", 1, 5, "born"), ("E4", 2, 1, "King;"),
]

# ---------------------------------------------------------------- whole verses (group 3 lessons)

SILENT_NIGHT_VERSE = (
    "Silent night, holy night,\nAll is calm, all is bright\nRound yon Virgin Mother and Child.\n"
    "Holy Infant so tender and mild,\nSleep in heavenly peace,\nSleep in heavenly peace."
)
O_COME_VERSE = (
    "O come, all ye faithful,\nJoyful and triumphant,\nO come ye, O come ye to Bethlehem;\n"
    "Come and behold Him,\nBorn the King of angels;\nO come, let us adore Him,\n"
    "O come, let us adore Him,\nO come, let us adore Him,\nChrist the Lord."
)
HARK_VERSE = (
    "Hark! the herald angels sing,\n\"Glory to the new-born King;\nPeace on earth, and mercy mild,\n"
    "God and sinners reconciled!\"\nJoyful, all ye nations, rise,\nJoin the triumph of the skies;\n"
    "With th'angelic host proclaim,\n\"Christ is born in Bethlehem!\"\nHark! the herald angels sing,\n"
    "\"Glory to the new-born King!\""
)

# Lesson key -> (meter, steps, tune, text, full verse or "", tip). Keys are academy
# ids, hymnal numbers ("tenzi_075") or group ids.
REAL_LESSONS = {
    "amazing_grace": (3, AMAZING_GRACE, NEW_BRITAIN, AMAZING_GRACE_TEXT, "",
                      "NEW BRITAIN in 3/4: lean on beat one, let the pickup \"A-\" be light, and roll the "
                      "two-note \"-ing\" and \"was\" turns with fingers 3 and 1."),
    "joyful_joyful_we_adore_thee": (
        4, JOYFUL_JOYFUL, HYMN_TO_JOY, JOYFUL_JOYFUL_TEXT, "",
        "HYMN TO JOY moves by step: keep the hand over C-D-E-F-G and only stretch down to G3 at "
        "\"away\"; the dotted \"Lord of\" and \"sun a-\" carry the swing."),
    "joy_to_the_world": (
        4, JOY_TO_THE_WORLD, ANTIOCH, JOY_TO_THE_WORLD_TEXT, "",
        "The opening two lines of ANTIOCH: a full C-major scale falling from C5; start with finger 5 "
        "and cross the thumb under after F so the run stays legato."),
    "silent_night_holy_night": (
        3, SILENT_NIGHT, STILLE_NACHT, SILENT_NIGHT_TEXT, "",
        "The first four lines of STILLE NACHT in a gentle 6/8: two slow pulses a bar, the dotted "
        "\"Si-lent\" figure unhurried, and a soft lift before \"All is calm\"."),
    "o_come_all_ye_faithful": (
        4, O_COME_ALL_YE_FAITHFUL, ADESTE_FIDELES, O_COME_TEXT, "",
        "The opening of ADESTE FIDELES: the leap down to G3 on \"all\" and \"-ful\" wants a firm "
        "thumb; then climb smoothly through \"joyful and triumphant\"."),
    "tenzi_075": (
        4, HARK_THE_HERALD, MENDELSSOHN, HARK_TEXT, HARK_VERSE,
        "The opening of MENDELSSOHN: a bright march; the dotted \"her-ald\" and \"Glo-ry to\" figures "
        "must stay crisp while the left hand holds C and G7."),
    "tenzi_076": (
        4, O_COME_ALL_YE_FAITHFUL, ADESTE_FIDELES, O_COME_TEXT, O_COME_VERSE,
        "The opening of ADESTE FIDELES: the leap down to G3 on \"all\" and \"-ful\" wants a firm "
        "thumb; then climb smoothly through \"joyful and triumphant\"."),
    "tenzi_151": (
        3, SILENT_NIGHT, STILLE_NACHT, SILENT_NIGHT_TEXT, SILENT_NIGHT_VERSE,
        "The first four lines of STILLE NACHT in a gentle 6/8: two slow pulses a bar, the dotted "
        "\"Si-lent\" figure unhurried, and a soft lift before \"All is calm\"."),
}
