// The genre templates: what each built-in band plays at each position of the bar.
// Intervals are counted from the bass base b or the chord base c (leads are
// written on c too); t, sixth and seventh are the degree's chord colours. Phrase
// tables hold scale intervals (bar.m makes them minor), one row per bar of the
// progression loop; -1 is a rest. Hold tables give a lead note's length in steps.

#include "ArrangerTemplates.h"

#include <algorithm>

namespace tmb::band {

namespace {

constexpr int rest = -1;

template <int Rows, int Width>
struct Phrase {
    int cells[Rows * Width];
    // The interval at this bar's position and row; a rest past the table's width.
    int at(const Bar& bar) const { return bar.p < Width ? cells[bar.row(Rows) * Width + bar.p] : rest; }
};

// A per-position value (velocity or hold); `fallback` past the table's width.
template <int Width>
int cell(const int (&table)[Width], int p, int fallback = 0) {
    return p < Width ? table[p] : fallback;
}

bool oneOf(int p, std::initializer_list<int> positions) {
    return std::find(positions.begin(), positions.end(), p) != positions.end();
}

// A lead pair a third apart: below T by a minor third up to the sixth, else a major one.
void thirdsPair(const Bar& x, Band& band, int top, int velocity, int length) {
    const int d = top <= 6 ? 3 : 4;
    band.lead({x.c + x.m(top - d), x.c + x.m(top)}, velocity, length);
}

// clang-format off

// ---- 0 mugithi_classic: one-man guitar, bass walking root-fifth-octave.
constexpr Phrase<4, 16> mugithiLine{{
    0, -1, 2, 4, 7, -1, 9, 7, 4, -1, 7, 12, 9, 7, 4, -1,
    7, -1, 9, 12, 9, -1, 7, 4, 2, 4, 7, -1, 4, 2, 0, -1,
    4, -1, 7, 9, 12, -1, 14, 12, 9, -1, 7, 4, 7, 9, 7, -1,
    12, -1, 9, 7, 4, 7, 9, -1, 7, 4, 2, 4, 0, -1, -1, -1}};
constexpr int mugithiHold[16] = {2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 1, 1, 2, 1};

void mugithiClassic(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0 || p == 8) {
        band.bass(b, p == 0 ? 114 : 112, 3);
        band.rhythm({c - 12, c}, 92, 2);
    } else if (p == 2 || p == 10) {
        band.rhythm({c, c + t, c + 7}, 98, 2);
        band.harmony({c + t, c + 7, c + 12}, 84, 3);
    } else if (p == 3 || p == 11) {
        band.bass(p == 3 ? b + 7 : b + t, p == 3 ? 96 : 98, 1);
        band.rhythm({c + t, c + 7}, 82, 1);
    } else if (p == 4 || p == 12) {
        band.bass(p == 4 ? b + 12 : b + 7, p == 4 ? 106 : 108, 2);
    } else if (p == 6 || p == 14) {
        const int walk = p == 6 ? b + 7 : (x.row(4) == 3 ? b + x.sixth : b + t);
        band.bass(walk, p == 6 ? 100 : 102, 2);
        band.rhythm({c, c + t, c + 7}, 98, 2);
        band.harmony({c, c + t, c + x.sixth}, 80, 2);
    }
    const int a = mugithiLine.at(x);
    if (a == rest) return;
    const int note = c + x.m(a);
    if (p == 4 || p == 12)
        band.lead({note, note + 12}, 104, cell(mugithiHold, p, 1));
    else
        band.lead({note}, p % 2 == 1 ? 92 : 104, cell(mugithiHold, p, 1));
}

// ---- 1 mugithi_kinanda: an accordion duet in thirds over a guitar offbeat.
constexpr Phrase<4, 16> kinandaUpper{{
    7, -1, 9, 7, 4, -1, 7, -1, 9, -1, 12, 9, 7, -1, 4, -1,
    4, -1, 7, 4, 2, -1, 4, -1, 7, -1, 9, 7, 4, -1, 2, -1,
    9, -1, 12, 9, 7, -1, 9, -1, 12, -1, 14, 12, 9, -1, 7, -1,
    7, -1, 4, 2, 0, -1, 2, -1, 4, -1, 2, 0, -1, -1, -1, -1}};
constexpr Phrase<4, 16> kinandaLower{{
    4, -1, 5, 4, 0, -1, 4, -1, 5, -1, 9, 5, 4, -1, 0, -1,
    0, -1, 4, 0, -3, -1, 0, -1, 4, -1, 5, 4, 0, -1, -3, -1,
    5, -1, 9, 5, 4, -1, 5, -1, 9, -1, 11, 9, 5, -1, 4, -1,
    4, -1, 0, -3, -5, -1, -3, -1, 0, -1, -3, -5, -1, -1, -1, -1}};

void mugithiKinanda(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 114, 3);
    if (p == 4) band.bass(b + 7, 98, 2);
    if (p == 8) band.bass(b, 108, 3);
    if (p == 12) band.bass(b + 7, 98, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.rhythm({c, c + t, c + 7}, 92, 2);
    if (p == 0) band.harmony({c + t, c + 7}, 88, 4);
    if (p == 8) band.harmony({c + t, c + 7, c + 12}, 82, 4);
    const int upper = kinandaUpper.at(x);
    if (upper != rest) band.lead({c + x.m(kinandaLower.at(x)), c + x.m(upper)}, 104, 2);
}

// ---- 2 mugithi_modern: club guitar chops on every eighth, brass hits, sub bass.
constexpr Phrase<2, 16> clubGuitar{{
    12, -1, -1, 9, -1, -1, 7, -1, 12, -1, -1, 9, -1, 7, -1, -1,
    14, -1, -1, 12, -1, -1, 9, -1, 7, -1, -1, 4, -1, 7, -1, -1}};
constexpr int clubChop[16] = {88, 0, 104, 0, 84, 0, 104, 0, 88, 0, 104, 0, 84, 0, 104, 0};

void mugithiModern(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 120, 2);
    if (p == 6) band.bass(b, 114, 2);
    if (p == 8) band.bass(b, 112, 2);
    if (p == 14) band.bass(b + 7, 108, 2);
    if (const int v = cell(clubChop, p)) band.rhythm({c, c + t, c + 7}, v, 1);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 98, 2);
    if (const int a = clubGuitar.at(x); a != rest) band.lead({c + x.m(a)}, 108, 2);
}

// ---- 3 mugithi_slow: a storyteller's melody over long guitar chords.
constexpr Phrase<4, 16> storyteller{{
    4, -1, -1, -1, 7, -1, 9, -1, 7, -1, -1, -1, 4, -1, 2, -1,
    0, -1, -1, -1, 2, -1, 4, -1, 7, -1, -1, -1, 9, -1, 7, -1,
    12, -1, -1, -1, 9, -1, 7, -1, 9, -1, -1, -1, 7, -1, 4, -1,
    2, -1, -1, -1, 4, -1, 2, -1, 0, -1, -1, -1, -1, -1, -1, -1}};
constexpr int storytellerHold[16] = {4, 1, 1, 1, 2, 1, 2, 1, 4, 1, 1, 1, 2, 1, 2, 1};

void mugithiSlow(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 106, 4);
    if (p == 6) band.bass(b + 7, 94, 2);
    if (p == 8) band.bass(b, 102, 4);
    if (p == 14) band.bass(b + t, 96, 2);
    if (p == 0 || p == 8) band.rhythm({c - 12, c, c + t, c + 7}, 84, 6);
    if (p == 6 || p == 14) band.rhythm({c, c + t, c + 7}, 78, 2);
    if (p == 0) band.harmony({c, c + t, c + 7, c + 12}, 76, 15);
    if (const int a = storyteller.at(x); a != rest) band.lead({c + x.m(a)}, 100, cell(storytellerHold, p, 1));
}

// ---- 4 rhumba_congo_ok: tumbao bass, guitar and a top line in thirds.
constexpr Phrase<4, 16> rhumbaTop{{
    -1, 4, -1, 7, 9, -1, 7, 4, -1, 9, 12, 9, 7, -1, 4, -1,
    -1, 7, -1, 9, 12, -1, 9, 7, -1, 7, 9, 7, 4, -1, 2, -1,
    -1, 9, -1, 12, 14, -1, 12, 9, -1, 12, 9, 7, 9, -1, 7, -1,
    -1, 12, 9, 7, 4, -1, 7, 4, 2, -1, 4, 2, 0, -1, -1, -1}};

void rhumbaCongo(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    const int row = x.row(4);
    const bool evenRow = row % 2 == 0;
    const auto triad = {c, c + t, c + 7};
    const auto upper = {c + t, c + 7, c + x.sixth, c + 12};
    const auto lower = {c, c + t, c + 7, c + 12};
    if (p == 0) {
        if (row == 0) band.bass(b, 108, 5);
        band.rhythm(triad, 90, 2);
        if (evenRow) band.harmony(upper, 86, 3);
    } else if (oneOf(p, {3, 8, 14})) {
        band.rhythm(triad, 80, 2);
    } else if (p == 11) {
        band.rhythm(triad, 90, 2);
    } else if (p == 6) {
        band.bass(b + 7, 106, 5);
        band.rhythm(triad, 90, 2);
        if (evenRow) band.harmony(upper, 86, 3);
    } else if (p == 10) {
        if (evenRow) band.harmony(upper, 86, 3);
    } else if (p == 4) {
        if (!evenRow) band.harmony(lower, 88, 4);
    } else if (p == 12) {
        band.bass(b + 12, 110, 3);
        if (!evenRow) band.harmony(lower, 88, 4);
    } else if (p == 15) {
        band.bass(row == 3 ? b + t : b, 104, 6); // the bass anticipates the next bar
    }
    if (const int top = rhumbaTop.at(x); top != rest) thirdsPair(x, band, top, 100, 2);
}

// ---- 5 rhumba_bolero: the bolero figure on guitar, a held saxophone line.
constexpr Phrase<4, 16> boleroLine{{
    7, -1, -1, 9, -1, -1, 7, -1, 4, -1, -1, -1, 2, -1, 4, -1,
    9, -1, -1, 12, -1, -1, 9, -1, 7, -1, -1, -1, 4, -1, -1, -1,
    12, -1, -1, 11, -1, -1, 9, -1, 7, -1, -1, -1, 9, -1, 7, -1,
    4, -1, -1, 2, -1, -1, 0, -1, 2, -1, -1, -1, -1, -1, -1, -1}};
constexpr int boleroHold[16] = {3, 1, 1, 3, 1, 1, 2, 1, 4, 1, 1, 1, 2, 1, 2, 1};

void rhumbaBolero(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 106, 4);
    if (p == 6) band.bass(b + 7, 96, 2);
    if (p == 8) band.bass(b, 98, 4);
    if (p == 12) band.bass(b + 7, 94, 2);
    if (p == 0 || p == 8) band.rhythm({c, c + t, c + 7}, 86, 3);
    if (p == 4) band.rhythm({c, c + t, c + 7}, 84, 2);
    if (oneOf(p, {3, 6, 12})) band.rhythm({c + t, c + 7}, 82, 2);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + x.sixth}, 80, 8);
    if (const int a = boleroLine.at(x); a != rest) band.lead({c + x.m(a)}, 98, cell(boleroHold, p, 1));
}

// ---- 6 rhumba_odemba: a walking bass line of its own and twin guitars.
constexpr int odembaBass[16] = {0, -1, -1, 7, -1, -1, 12, -1, 7, -1, -1, 4, -1, -1, 7, -1};
constexpr int odembaBassVelocity[16] = {110, 0, 0, 98, 0, 0, 104, 0, 108, 0, 0, 96, 0, 0, 100, 0};
constexpr int odembaBassHold[16] = {3, 1, 1, 3, 1, 1, 2, 1, 3, 1, 1, 3, 1, 1, 2, 1};
constexpr Phrase<2, 16> odembaGuitars{{
    -1, -1, 4, -1, 7, -1, 9, 7, -1, -1, 4, -1, 2, -1, 0, -1,
    -1, -1, 7, -1, 9, -1, 12, 9, -1, -1, 7, -1, 4, -1, 2, -1}};

void rhumbaOdemba(const Bar& x, Band& band) {
    const int p = x.p, c = x.c, t = x.t;
    if (const int a = cell(odembaBass, p, rest); a != rest)
        band.bass(x.b + x.m(a), odembaBassVelocity[p], odembaBassHold[p]);
    if (oneOf(p, {2, 6, 10, 14})) band.rhythm({c, c + t, c + 7}, 88, 2);
    if (p == 0 || p == 8) band.harmony({c + t, c + 7, c + 12}, p == 0 ? 92 : 90, 3);
    if (const int top = odembaGuitars.at(x); top != rest) thirdsPair(x, band, top, 102, 2);
}

// ---- 7 rhumba_cavacha: the running cavacha guitar over a busy kit.
constexpr Phrase<2, 16> cavachaGuitar{{
    12, 7, 9, 7, 12, 7, 9, 7, 14, 9, 12, 9, 14, 9, 12, 9,
    9, 4, 7, 4, 9, 4, 7, 4, 12, 7, 9, 7, 7, 4, 2, 4}};
constexpr int cavachaVelocity[16] = {104, 84, 92, 84, 100, 84, 92, 84, 104, 84, 92, 84, 100, 84, 96, 84};

void rhumbaCavacha(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 108, 3);
    if (p == 6) band.bass(b + 7, 106, 2);
    if (p == 12) band.bass(b + 12, 114, 3);
    if (p == 4 || p == 12) band.rhythm({c, c + t, c + 7}, 88, 2);
    if (p == 2 || p == 10) band.harmony({c + t, c + 7, c + 12}, 90, 2);
    if (const int a = cavachaGuitar.at(x); a != rest) band.lead({c + x.m(a)}, cell(cavachaVelocity, p, 90), 1);
}

// ---- 8 lingala_seben: the jumping seben bass and the solo guitar's runs.
constexpr int sebenBass[16] = {0, -1, -1, 0, -1, -1, 7, -1, 12, -1, -1, 7, -1, -1, 4, -1};
constexpr int sebenBassVelocity[16] = {118, 0, 0, 100, 0, 0, 108, 0, 114, 0, 0, 100, 0, 0, 106, 0};
constexpr int sebenBassHold[16] = {2, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 2, 1, 1, 2, 1};
constexpr int sebenChop[16] = {90, 0, 100, 0, 86, 0, 100, 0, 90, 0, 100, 0, 86, 0, 100, 0};
constexpr Phrase<4, 16> sebenSolo{{
    12, 14, 12, 9, 7, 9, 12, -1, 12, 14, 16, 14, 12, 9, 7, -1,
    16, 14, 12, 14, 16, 19, 16, -1, 14, 12, 9, 12, 14, 12, 9, -1,
    19, 16, 14, 12, 14, 16, 19, 21, 19, 16, 14, 12, 9, 7, 9, -1,
    12, 9, 7, 4, 7, 9, 7, 4, 2, 4, 0, -1, -1, -1, -1, -1}};
constexpr int sebenSoloVelocity[16] = {110, 90, 100, 90, 106, 90, 100, 90, 110, 90, 100, 90, 106, 90, 100, 90};

void lingalaSeben(const Bar& x, Band& band) {
    const int p = x.p, c = x.c, t = x.t;
    if (const int a = cell(sebenBass, p, rest); a != rest)
        band.bass(x.b + x.m(a), sebenBassVelocity[p], sebenBassHold[p]);
    if (const int v = cell(sebenChop, p)) band.rhythm({c, c + t, c + 7}, v, 1);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 96, 2);
    if (const int a = sebenSolo.at(x); a != rest) band.lead({c + x.m(a)}, cell(sebenSoloVelocity, p, 90), 1);
}

// ---- 9 lingala_ndombolo: a two-bar hook over syncopated bass.
constexpr Phrase<2, 16> ndomboloHook{{
    7, -1, 7, 9, -1, 7, 4, -1, 7, -1, 7, 9, -1, 12, 9, -1,
    4, -1, 4, 7, -1, 4, 2, -1, 4, -1, 4, 2, -1, 0, 2, -1}};

void lingalaNdombolo(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 120, 2);
    if (p == 3) band.bass(b, 110, 1);
    if (p == 8) band.bass(b + 7, 114, 2);
    if (p == 11) band.bass(b + 7, 112, 1);
    if (oneOf(p, {2, 4, 6, 10, 12, 14})) band.rhythm({c, c + t, c + 7}, 92, 1);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 94, 2);
    if (const int a = ndomboloHook.at(x); a != rest) band.lead({c + x.m(a)}, 106, 1);
}

// ---- 10 lingala_mutuashi (6/8): a dancing bass and a lead line in threes.
constexpr Phrase<2, 12> mutuashiLine{{
    12, -1, 9, 7, -1, 9, 12, -1, 14, 12, -1, 9,
    7, -1, 4, 2, -1, 4, 7, -1, 9, 7, -1, 4}};
constexpr int mutuashiVelocity[12] = {104, 0, 92, 98, 0, 92, 104, 0, 96, 98, 0, 92};

void lingalaMutuashi(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 116, 2);
    if (p == 3) band.bass(b + 7, 102, 1);
    if (p == 6) band.bass(b, 110, 2);
    if (p == 9) band.bass(b + 7, 104, 1);
    if (oneOf(p, {2, 5, 8, 11})) band.rhythm({c, c + t, c + 7}, 92, 2);
    if (p == 0 || p == 6) band.harmony({c, c + t, c + 7, c + 12}, 90, 2);
    if (const int a = mutuashiLine.at(x); a != rest) band.lead({c + x.m(a)}, cell(mutuashiVelocity, p, 92), 1);
}

// ---- 11 lingala_adoration: a weeping guitar in octaves over a held pad.
constexpr Phrase<4, 16> adorationLine{{
    4, -1, -1, -1, -1, -1, 2, -1, 0, -1, -1, -1, 2, -1, 4, -1,
    7, -1, -1, -1, -1, -1, 9, -1, 7, -1, -1, -1, 4, -1, -1, -1,
    9, -1, -1, -1, -1, -1, 7, -1, 4, -1, -1, -1, 7, -1, 9, -1,
    7, -1, -1, -1, -1, -1, 4, -1, 2, -1, -1, -1, -1, -1, -1, -1}};
constexpr int adorationHold[16] = {6, 1, 1, 1, 1, 1, 2, 1, 4, 1, 1, 1, 2, 1, 2, 1};

void lingalaAdoration(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 90, 4);
    if (p == 6) band.bass(b + 7, 102, 2);
    if (p == 8) band.bass(b, 92, 4);
    if (p == 14) band.bass(b + 7, 106, 2);
    if (p == 2) band.rhythm({c, c + t, c + 7}, 82, 3);
    if (p == 10) band.rhythm({c, c + t, c + 7}, 76, 2);
    if (p == 0) band.harmony({c, c + t, c + 7, c + 12}, 82, 16);
    if (const int a = adorationLine.at(x); a != rest) {
        const int note = c + x.m(a);
        band.lead({note, note + 12}, 96, cell(adorationHold, p, 1));
    }
}

// ---- 12 country_train: boom-chick bass and strum, a harmonica melody.
constexpr Phrase<4, 16> trainMelody{{
    0, -1, 2, 4, 7, -1, 9, 7, 4, -1, 2, 0, -5, -1, -3, -1,
    0, -1, 2, 4, 7, -1, 4, 2, 0, -1, 4, 7, 0, -1, -1, -1,
    4, -1, 7, 9, 12, -1, 9, 7, 4, -1, 7, 9, 7, -1, 4, -1,
    7, 9, 7, 4, 2, 4, 2, 0, -3, 0, 2, 4, 0, -1, -1, -1}};

void countryTrain(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0 || p == 8) {
        band.bass(b, 116, 3);
        band.rhythm({c - 12}, 92, 2);
    } else if (p == 4 || p == 12) {
        band.bass(std::max(b - 5, 28), 110, 3);
        band.rhythm({c - 5}, 88, 2);
    } else if (oneOf(p, {2, 6, 10, 14})) {
        if (p == 14 && x.row(4) == 3) band.bass(b - 2, 100, 2);
        band.rhythm({c, c + t, c + 7}, 96, 2);
        band.harmony({c + t, c + 7, c + 12}, 86, 2);
    }
    if (const int a = trainMelody.at(x); a != rest) band.lead({c + x.m(a)}, 104, 2);
}

// ---- 13 country_twostep: root-fifth bass, piano chords, honky-tonk fills.
constexpr Phrase<2, 16> honkyTonk{{
    -1, -1, 12, -1, -1, -1, 9, -1, -1, -1, 12, -1, 14, -1, 12, -1,
    -1, -1, 7, -1, -1, -1, 9, -1, -1, -1, 7, -1, 4, -1, 2, -1}};

void countryTwoStep(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 114, 3);
    if (p == 4) band.bass(std::max(b - 5, 28), 106, 3);
    if (p == 8) band.bass(b, 110, 3);
    if (p == 12) band.bass(b + 7, 106, 3);
    if (p == 4 || p == 12) band.rhythm({c, c + t, c + 7, c + 12}, 90, 2);
    if (p == 0 || p == 8) band.harmony({c + t, c + 7}, p == 0 ? 84 : 82, 6);
    if (const int top = honkyTonk.at(x); top != rest) thirdsPair(x, band, top, 100, 2);
}

// ---- 14 country_waltz (3/4): oom-pah-pah and a fiddle in thirds.
constexpr Phrase<4, 12> fiddle{{
    7, -1, -1, -1, 9, -1, 7, -1, 4, -1, -1, -1,
    9, -1, -1, -1, 12, -1, 9, -1, 7, -1, -1, -1,
    12, -1, -1, -1, 11, -1, 9, -1, 7, -1, 4, -1,
    4, -1, -1, -1, 2, -1, 0, -1, -1, -1, -1, -1}};
constexpr int fiddleHold[12] = {4, 1, 1, 1, 2, 1, 2, 1, 4, 1, 2, 1};

void countryWaltz(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 116, 4);
    if (p == 8) band.bass(b + 7, 96, 2);
    if (p == 10) band.bass(b + t, 100, 2);
    if (p == 4) band.rhythm({c, c + t, c + 7}, 94, 3);
    if (p == 8) band.rhythm({c + t, c + 7}, 86, 3);
    if (p == 0) band.harmony({c + t, c + 7}, 82, 4);
    if (p == 6) band.harmony({c + 7, c + 12}, 80, 4);
    if (const int top = fiddle.at(x); top != rest) thirdsPair(x, band, top, 98, cell(fiddleHold, p, 1));
}

// ---- 15 country_ballad: pedal-steel chords scripted over a slow strum.
void countryBallad(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 108, 4);
    if (p == 6) band.bass(b + 7, 92, 2);
    if (p == 8) band.bass(b, 104, 4);
    if (p == 14) band.bass(b + t, 94, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.rhythm({c, c + t, c + 7}, 84, 2);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 82, 8);
    if (p == 0) band.lead({c + t, c + 7, c + 12, c + t + 12}, 100, 4);
    if (p == 6) band.lead({c + 7, c + 12}, 90, 2);
    if (p == 10) band.lead({c + t, c + 7, c + 12}, 94, 2);
    if (p == 14) band.lead({c + 7, c + 14}, 92, 2);
}

// ---- 16 reggae_zanduvi: one-drop bass, guitar skank, organ bubble, horns.
void reggaeZanduvi(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 122, 2);
    if (p == 3) band.bass(b + 7, 106, 2);
    if (p == 6) band.bass(b + 12, 114, 2);
    if (p == 8) band.bass(b + 7, 110, 2);
    if (p == 11) band.bass(b + t, 108, 2);
    if (p == 14) band.bass(b, 116, 2);
    if (p == 4 || p == 12) {
        band.rhythm({c, c + t, c + 7}, 102, 1);
        band.harmony({c, c + t, c + 7}, 92, 1);
    }
    if (oneOf(p, {2, 6, 10, 14})) band.harmony({c + t, c + 7}, 68, 1);
    if (p == 0) band.lead({c + t, c + 7, c + 12}, 108, 4);
    if (p == 8) band.lead({c, c + t, c + 7}, 100, 2);
    if (p == 11) band.lead({c + 2, c + 5, c + 9}, 104, 3);
}

// ---- 17 reggae_lovers_rock: a smooth saxophone over skank and bubble.
constexpr Phrase<2, 16> loversSax{{
    4, -1, -1, -1, -1, -1, 7, -1, 9, -1, -1, 7, -1, -1, 4, -1,
    2, -1, -1, -1, -1, -1, 4, -1, 0, -1, -1, -1, -1, -1, -1, -1}};
constexpr int loversSaxHold[16] = {6, 1, 1, 1, 1, 1, 2, 1, 3, 1, 1, 3, 1, 1, 2, 1};

void reggaeLoversRock(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 110, 2);
    if (p == 3) band.bass(b + 7, 102, 2);
    if (p == 6) band.bass(b + 12, 106, 2);
    if (p == 10) band.bass(b + 7, 104, 2);
    if (p == 13) band.bass(b + t, 100, 2);
    if (p == 4 || p == 12) {
        band.rhythm({c, c + t, c + 7}, 94, 1);
        band.harmony({c, c + t, c + 7}, 88, 1);
    }
    if (p == 6 || p == 14) band.harmony({c + t, c + 7}, 64, 1);
    if (const int a = loversSax.at(x); a != rest) band.lead({c + x.m(a)}, 100, cell(loversSaxHold, p, 1));
}

// ---- 18 reggae_steppers: a bass on every beat and organ stabs in octaves.
constexpr int steppersBass[8] = {0, -1, 0, -1, 7, -1, 0, 5}; // one per eighth
constexpr int steppersChop[16] = {0, 0, 78, 0, 100, 0, 78, 0, 0, 0, 78, 0, 100, 0, 78, 0};
constexpr Phrase<2, 16> steppersOrgan{{
    -1, -1, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, 9, -1, 7, -1,
    -1, -1, -1, -1, 4, -1, -1, -1, -1, -1, -1, -1, 2, -1, 0, -1}};

void reggaeSteppers(const Bar& x, Band& band) {
    const int p = x.p, c = x.c, t = x.t;
    if (p % 2 == 0 && p < 16 && steppersBass[p / 2] != rest) band.bass(x.b + x.m(steppersBass[p / 2]), 116, 2);
    if (const int v = cell(steppersChop, p)) band.rhythm({c, c + t, c + 7}, v, 1);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 90, 2);
    if (const int a = steppersOrgan.at(x); a != rest) band.lead({c + x.m(a), c + x.m(a) + 12}, 100, 2);
}

// ---- 19 reggae_dancehall: the 3-3-2 riddim with brass and keys.
void reggaeDancehall(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 118, 3);
    if (p == 6) band.bass(b, 116, 2);
    if (p == 10) band.bass(b + 7, 122, 2);
    if (p == 3 || p == 11) band.rhythm({c, c + t, c + 7}, 96, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.harmony({c + t, c + 7, c + 12}, 88, 1);
    if (p == 0) band.lead({c + t, c + 7}, 102, 2);
    if (p == 8) band.lead({c + t, c + 7, c + 12}, 108, 2);
    if (p == 12) band.lead({c + 2, c + 7}, 104, 2);
}

// ---- 20 twist_classic: a walking bass in eighths and a twist guitar in thirds.
constexpr int twistWalk[8] = {0, 4, 7, 9, 12, 9, 7, 4}; // one per eighth
constexpr Phrase<2, 16> twistGuitar{{
    12, -1, -1, -1, -1, -1, 9, -1, 7, -1, -1, -1, 9, -1, -1, -1,
    7, -1, -1, -1, -1, -1, 4, -1, 2, -1, -1, -1, 4, -1, -1, -1}};

void twistClassic(const Bar& x, Band& band) {
    const int p = x.p, c = x.c, t = x.t;
    if (p % 2 == 0 && p < 16) band.bass(x.b + x.m(twistWalk[p / 2]), 114, 2);
    if (p == 4 || p == 12) band.rhythm({c, c + t, c + 7}, 96, 2);
    if (p == 0 || p == 8) band.harmony({c + t, c + 7, c + 12}, p == 0 ? 92 : 88, 2);
    if (const int top = twistGuitar.at(x); top != rest) thirdsPair(x, band, top, 104, 2);
}

// ---- 21 twist_zilizopendwa: fast horn riffs scripted over a driving bass.
void twistZilizopendwa(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 116, 2);
    if (p == 4) band.bass(b + 7, 104, 2);
    if (p == 8) band.bass(b + 12, 112, 2);
    if (p == 12) band.bass(b + 7, 108, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.rhythm({c, c + t, c + 7}, 94, 1);
    if (p == 0 || p == 8) band.harmony({c + t, c + 7, c + 12}, 90, 2);
    if (p == 0) band.lead({c + t, c + 7, c + 12}, 110, 4);
    if (p == 6) band.lead({c + 7, c + 12}, 102, 2);
    if (p == 10) band.lead({c + t, c + 7, c + 12}, 106, 2);
    if (p == 14) band.lead({c + 2, c + 7}, 104, 2);
}

// ---- 22 twist_chakacha (6/8): a rolling bass and a kinanda line in octaves.
constexpr Phrase<2, 12> chakachaLine{{
    7, -1, 9, 10, 9, 7, 4, -1, 7, 4, 2, 4,
    9, -1, 10, 12, 10, 9, 7, -1, 4, 2, 0, -1}};

void twistChakacha(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    const auto triad = {c, c + t, c + 7};
    int length = 1;
    bool always = false;
    if (p == 0 || p == 6) {
        band.bass(b, 116, 2);
        band.rhythm(triad, 88, 2);
        if (p == 0)
            band.harmony({c + t, c + 7, c + 12}, 82, 6);
        else
            band.harmony({c + x.sixth, c + 12, c + t + 12}, 84, 6);
        length = 2;
        always = true;
    } else if (p == 3 || p == 9) {
        band.bass(b + 12, 110, 2);
        band.rhythm(triad, 88, 2);
        length = 2;
    } else if (p == 2 || p == 8) {
        band.bass(b + 7, 104, 1);
    } else if (p == 5 || p == 11) {
        band.bass(b + 7, 102, 1);
    } else if (!oneOf(p, {1, 4, 7, 10})) {
        return;
    }
    int k = chakachaLine.at(x);
    if (k == rest && !always) return;
    const int note = c + x.m(k == rest ? 0 : k);
    band.lead({note, note + 12}, 102, length);
}

// ---- 23 twist_benga: pumping bass and the interlocking benga guitar.
constexpr Phrase<4, 16> bengaGuitar{{
    12, 9, 7, 9, 12, 9, 7, 9, 14, 12, 9, 12, 14, 12, 9, 7,
    7, 4, 2, 4, 7, 4, 2, 4, 9, 7, 4, 7, 9, 7, 4, 2,
    16, 14, 12, 14, 16, 14, 12, 14, 19, 16, 14, 16, 19, 16, 14, 12,
    12, 9, 7, 4, 7, 4, 2, 0, 2, 4, 7, -1, -1, -1, -1, -1}};
constexpr int bengaVelocity[16] = {108, 86, 96, 86, 104, 86, 96, 86, 108, 86, 96, 86, 104, 86, 96, 86};

void twistBenga(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 120, 2);
    if (p == 3) band.bass(b + 7, 110, 1);
    if (p == 8) band.bass(b, 114, 2);
    if (p == 11) band.bass(b + 12, 116, 1);
    if (p == 4 || p == 12) band.rhythm({c, c + t, c + 7}, 90, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.harmony({c + t, c + 7, c + 12}, 86, 1);
    if (const int a = bengaGuitar.at(x); a != rest) band.lead({c + x.m(a)}, cell(bengaVelocity, p, 90), 1);
}

// ---- 24 gospel_worship_anthem: piano voicings, a long pad and a piano melody.
constexpr Phrase<2, 16> worshipPiano{{
    0, -1, 7, -1, 14, -1, 12, -1, 7, -1, 4, -1, 2, -1, 7, -1,
    4, -1, 7, -1, 12, -1, 14, -1, 12, -1, 7, -1, 4, -1, 2, -1}};

void gospelWorshipAnthem(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    const auto voicing = {c, c + 2, c + t, c + 7};
    if (p == 0) {
        band.bass(b, 110, 6);
        band.rhythm(voicing, 88, 2);
        band.harmony({c - 5, c, c + t, c + 7, c + 12}, 84, 16);
        band.lead({c - 12, c, c + 7, c + x.m(16)}, 100, 4);
        return;
    }
    if (p == 6) band.bass(b + 7, 96, 2);
    if (p == 8) band.bass(b, 106, 6);
    if (p == 14) band.bass(b + 12, 98, 2);
    if (p == 8) band.rhythm(voicing, 88, 2);
    if (oneOf(p, {2, 3, 6, 10, 11, 14})) band.rhythm(voicing, 78, 2);
    if (const int a = worshipPiano.at(x); a != rest) band.lead({c + x.m(a), c + 7}, 92, 2);
}

// ---- 25 gospel_soul_rnb (6/8): extended chords and scripted lead voicings.
void gospelSoulRnb(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0 || p == 6) {
        band.bass(p == 0 ? b : b + 7, p == 0 ? 114 : 110, 4);
        band.rhythm({c, c + t, c + 7, c + x.seventh, c + 14}, 90, 3);
        band.harmony({c, c + t, c + 7, c + 12}, 84, 6);
        if (p == 0)
            band.lead({c + t, c + 7, c + 12}, 98, 3);
        else
            band.lead({c + t, c + 7, c + x.seventh, c + 14}, 100, 3);
    } else if (p == 3 || p == 9) {
        band.rhythm({c + t, c + x.sixth, c + 12}, 82, 3);
        if (p == 3)
            band.lead({c + x.sixth, c + 14}, 92, 3);
        else
            band.lead({c + 2, c + 5, c + 9}, 94, 3);
    } else if (p == 4) {
        band.bass(b + t, 98, 1);
    } else if (p == 5) {
        band.bass(b + 5, 102, 1);
    } else if (p == 10) {
        band.bass(b + x.sixth, 100, 1);
    } else if (p == 11) {
        band.bass(b + x.seventh, 104, 1);
    }
}

// ---- 26 gospel_mzansi: a bouncing bass, choir pad and brass in thirds.
constexpr Phrase<2, 16> mzansiBrass{{
    7, -1, -1, 9, -1, -1, 12, -1, 9, -1, -1, 7, -1, -1, 4, -1,
    4, -1, -1, 7, -1, -1, 9, -1, 7, -1, -1, 4, -1, -1, 2, -1}};

void gospelMzansi(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0) band.bass(b, 120, 2);
    if (p == 3) band.bass(b, 110, 1);
    if (p == 6) band.bass(b + 7, 114, 2);
    if (p == 8) band.bass(b, 112, 2);
    if (p == 11) band.bass(b + 7, 116, 1);
    if (p == 14) band.bass(b + 12, 110, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.rhythm({c, c + t, c + 7, c + 12}, 94, 2);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 88, 8);
    if (const int top = mzansiBrass.at(x); top != rest) thirdsPair(x, band, top, 104, 2);
}

// ---- 27 gospel_pentecostal: a shout bass in octaves and organ stabs.
constexpr int shoutBass[8] = {0, 12, 7, 12, 0, 12, 9, 7}; // one per eighth
constexpr int pentecostalOrgan[16] = {12, -1, -1, 12, -1, -1, 14, -1, 12, -1, -1, 9, -1, -1, 7, -1};

void gospelPentecostal(const Bar& x, Band& band) {
    const int p = x.p, c = x.c, t = x.t;
    if (p % 2 == 0 && p < 16) band.bass(x.b + x.m(shoutBass[p / 2]), 120, 2);
    if (oneOf(p, {2, 6, 10, 14})) band.rhythm({c, c + t, c + 7, c + 12}, 102, 1);
    if (p == 0 || p == 8) band.harmony({c, c + t, c + 7, c + 12}, 98, 2);
    if (const int a = cell(pentecostalOrgan, p, rest); a != rest) band.lead({c + t, c + 7, c + x.m(a)}, 106, 2);
}

// ---- 28 gospel_68 (6/8): bass on the two main beats, chords and pad.
void gospel68(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    if (p == 0 || p == 6) band.bass(p == 0 ? b : b + 7, p == 0 ? 114 : 110, 4);
    if (p == 5) band.bass(b + t, 100, 1);
    if (p == 11) band.bass(b + x.sixth, 102, 1);
    if (oneOf(p, {0, 3, 6, 9})) band.rhythm({c, c + t, c + 7, c + 12}, 90, 3);
    if (p == 0 || p == 6) band.harmony({c - 5, c, c + t, c + 7}, 84, 6);
}

// ---- 31 jazz_swing: a walking bass and rootless voicings.
constexpr int walkingBass[4] = {0, 4, 7, 9};

void jazzSwing(const Bar& x, Band& band) {
    const int p = x.p, c = x.c, t = x.t;
    if (oneOf(p, {0, 4, 8, 12})) band.bass(x.b + x.m(walkingBass[p / 4]), 112, 4);
    if (oneOf(p, {0, 6, 12})) band.rhythm({c + t, c + 7, c + x.seventh, c + 14}, 88, 2);
}

// ---- The plain band for styles without a script of their own.
void fallbackBand(const Bar& x, Band& band) {
    const int p = x.p, b = x.b, c = x.c, t = x.t;
    const auto seventh = {c, c + t, c + 7, c + x.seventh};
    if (p == 0 || p == 8) {
        band.bass(b, 114, 3);
        band.rhythm(seventh, 90, 3);
        band.harmony({c - 5, c, c + t, c + 7}, 82, 8);
    } else if (p == 6 || p == 14) {
        band.bass(b + 7, 106, 2);
    } else if (p == 4 || p == 12) {
        band.rhythm(seventh, 90, 3);
    }
}

constexpr Script scripts[] = {
    mugithiClassic, mugithiKinanda, mugithiModern, mugithiSlow, rhumbaCongo, rhumbaBolero, rhumbaOdemba,
    rhumbaCavacha, lingalaSeben, lingalaNdombolo, lingalaMutuashi, lingalaAdoration, countryTrain,
    countryTwoStep, countryWaltz, countryBallad, reggaeZanduvi, reggaeLoversRock, reggaeSteppers,
    reggaeDancehall, twistClassic, twistZilizopendwa, twistChakacha, twistBenga, gospelWorshipAnthem,
    gospelSoulRnb, gospelMzansi, gospelPentecostal, gospel68, nullptr, nullptr, jazzSwing};

// clang-format on

} // namespace

int minorInterval(int interval) {
    switch (interval) {
    case -8:
        return -9;
    case -3:
        return -4;
    case 4:
        return 3;
    case 9:
        return 8;
    case 11:
        return 10;
    case 16:
        return 15;
    default:
        return interval;
    }
}

Script templateScript(int number) {
    const bool scripted = number >= 0 && number < static_cast<int>(std::size(scripts)) && scripts[number];
    return scripted ? scripts[number] : fallbackBand;
}

} // namespace tmb::band
