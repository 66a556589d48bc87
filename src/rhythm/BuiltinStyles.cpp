// The built-in style catalogue: identity, band sounds and one base drum pattern per
// style; the seven sections are derived from the base pattern.

#include "StylePattern.h"

#include <QStringList>

#include <algorithm>

namespace tmb {

namespace {

// Lane indices with a role in the derived sections, whatever notes a style puts there.
constexpr int kickLane = 0;
constexpr int snareLane = 1;
constexpr int rimLane = 2;
constexpr int closedHatLane = 3;
constexpr int tomLane = 5;
constexpr int rideLane = 6;

struct BuiltinStyle {
    const char* id;
    const char* name;
    const char* genre;
    const char* description;
    const char* mainPreset;
    const char* layerPreset;
    const char* splitPreset;
    float bpm;
    int beatsPerBar;
    int stepsPerBar;
    int progressionIndex;
    int archetype;
    int kit;
    int programs[4]; // rhythm, bass, lead, harmony
    int lanes[drumLaneCount];
    // One row per lane: stepsPerBar velocities separated by spaces, "." for silence.
    const char* rows[drumLaneCount];
};

constexpr const char* silent16 = ". . . . . . . . . . . . . . . .";
constexpr const char* silent12 = ". . . . . . . . . . . .";

// clang-format off
constexpr BuiltinStyle catalogue[] = {
    {"mugithi_classic", "Mugithi Classic 1-Man Guitar", "Mugithi",
     "1-4-5-4 Kenyan Train • Acoustic 1-Man Guitar + Kinanda + Bass",
     "gm_country_steel", "gm_mugithi_accordion", "gm_finger_bass", 118, 4, 16, 2, 0, 0, {25, 33, 25, 21},
     {36, 38, 37, 42, 46, 54, 51, 69},
     {"114 . . . 86 . . 74 114 . . . 86 . 80 .",
      ". . . . 104 . . . . . . . 106 . . 58",
      ". . 82 . . . 82 . . . 82 . . . 84 .",
      "82 . 92 . 82 . 92 . 82 . 92 . 82 . 94 .",
      ". . . . . . . . . . . . . . 72 .",
      ". . 76 . . . 78 . . . 76 . . . 82 .",
      silent16,
      "62 . 74 . 62 . 74 . 62 . 74 . 62 . 76 ."}},
    {"mugithi_kinanda", "Mugithi Kinanda Accordion Folk", "Mugithi",
     "1-4-1-5 Central Folk • Kinanda Accordion Duet + Rhythm Guitar + Bass",
     "gm_mugithi_accordion", "gm_seben_guitar", "gm_finger_bass", 122, 4, 16, 1, 1, 8, {27, 33, 21, 23},
     {36, 38, 37, 42, 46, 54, 51, 70},
     {"112 . . . 84 . 80 . 112 . . . 84 . 80 .",
      ". . . . 100 . . . . . . . 102 . . 64",
      ". . 78 . . . 78 . . . 78 . . . 80 .",
      "86 70 90 70 86 70 90 70 86 70 90 70 86 70 92 70",
      ". . . . . . . . . . . . . . 70 .",
      "70 . 78 . 70 . 78 . 70 . 78 . 70 . 80 .",
      silent16,
      "60 56 66 56 60 56 66 56 60 56 66 56 60 56 68 56"}},
    {"mugithi_modern", "Mugithi Modern Club Bounce", "Mugithi",
     "1-4-5-4 Heavy Bounce • Club Guitar + Brass Section + 808 Sub Bass",
     "gm_seben_guitar", "gm_brass_section", "gm_synth_bass1", 126, 4, 16, 2, 2, 25, {28, 38, 27, 61},
     {36, 38, 39, 42, 46, 47, 51, 56},
     {"120 . . . 110 . . 90 118 . . . 110 . 92 .",
      ". . . . 108 . . . . . . . 110 . . .",
      ". . . . 96 . . . . . . . 98 . . 70",
      ". . 96 . . . 96 . . . 96 . . . 96 88",
      ". . 80 . . . 80 . . . 80 . . . 84 .",
      silent16,
      silent16,
      "72 . . 64 . . 72 . 72 . . 64 . . 74 ."}},
    {"mugithi_slow", "Mugithi Slow Storyteller", "Mugithi",
     "1-6m-4-5 Warm Acoustic • 12-String Guitar + Rhodes EP + Fretless Bass",
     "gm_country_steel", "gm_rhodes_ep", "gm_fretless_bass", 94, 4, 16, 3, 3, 40, {4, 35, 25, 49},
     {36, 40, 37, 42, 44, 45, 51, 69},
     {"104 . . . . . . 70 96 . 72 . . . . .",
      ". . . . 88 . . . . . . . 90 . . 50",
      ". . 60 . . . . . . . 60 . . . . .",
      "70 . 64 . 70 . 64 . 70 . 64 . 70 . 66 .",
      ". . . . 60 . . . . . . . 60 . . .",
      ". . . . . . . . . . . . . . 72 .",
      "74 . 60 . 74 . 60 . 74 . 60 . 74 . 62 .",
      "50 . 56 . 50 . 56 . 50 . 56 . 50 . 58 ."}},
    {"rhumba_congo_ok", "Congolese Mabeko O.K. Rhumba", "Rhumba",
     "1-6m-4-5 Classic Rumba • Mabeko Nylon Guitar + Tenor Sax + Tumbao Bass",
     "gm_rhumba_nylon", "gm_tenor_sax", "gm_finger_bass", 92, 4, 16, 3, 4, 32, {26, 33, 24, 66},
     {36, 38, 37, 42, 46, 63, 51, 75},
     {"106 . . . . . 90 . 100 . . . . . 88 .",
      ". . . . . . . . . . . . 98 . . .",
      ". . . . 84 . . 76 . . . . . . . 78",
      "80 . 70 74 80 . 70 74 80 . 70 74 80 . 72 76",
      silent16,
      ". . 84 90 . . 84 90 . . 84 90 . . 86 92",
      silent16,
      "88 . . 88 . . 88 . . . 88 . 88 . . ."}},
    {"rhumba_bolero", "Rhumba Bolero Romantico", "Rhumba",
     "1-4-5-1 Slow Bolero • Nylon Guitar + Alto Saxophone + Fretless Bass",
     "gm_rhumba_nylon", "gm_alto_sax", "gm_fretless_bass", 80, 4, 16, 6, 5, 40, {24, 35, 65, 60},
     {36, 40, 37, 42, 46, 64, 51, 70},
     {"100 . . . . . . . 94 . . . . . . .",
      ". . . . 76 . . . . . . . 78 . 64 70",
      silent16,
      "72 . 64 . 72 . 64 . 72 . 64 . 72 . 64 .",
      silent16,
      ". . . . . . 80 84 . . . . . . 80 84",
      silent16,
      "60 56 60 56 60 56 60 56 60 56 60 56 60 56 60 56"}},
    {"rhumba_odemba", "East African Odemba Rhumba", "Rhumba",
     "1-4-1-5 Kenyan Rhumba • Twin Guitars + Solo Trumpet + Walking Bass",
     "gm_seben_guitar", "gm_trumpet", "gm_finger_bass", 106, 4, 16, 1, 6, 0, {27, 33, 27, 56},
     {36, 38, 37, 42, 46, 62, 51, 69},
     {"110 . . . . . 92 . 106 . . . . . 90 .",
      ". . . . 96 . . . . . . . 100 . . .",
      ". . 80 . . . . . . . 80 . . . . .",
      "84 70 84 70 84 70 84 70 84 70 84 70 84 70 86 70",
      ". . . . . . . 74 . . . . . . . 76",
      ". . 80 . . 84 . . . . 80 . . 84 . .",
      silent16,
      "60 . 66 . 60 . 66 . 60 . 66 . 60 . 68 ."}},
    {"rhumba_cavacha", "Rhumba Soukous Cavacha", "Rhumba",
     "1-4-5-4 Cavacha Groove • Mi-Solo Guitar + 2nd Guitar + Picked Bass",
     "gm_seben_guitar", "gm_rhumba_nylon", "gm_picked_bass", 116, 4, 16, 2, 7, 8, {24, 34, 27, 28},
     {36, 38, 37, 42, 46, 63, 51, 70},
     {"112 . . . 104 . . . 112 . . . 104 . . .",
      "80 66 90 66 80 66 90 66 80 66 90 66 80 66 94 70",
      silent16,
      "70 . 70 . 70 . 70 . 70 . 70 . 70 . 70 .",
      silent16,
      ". . . . . . 82 . . . . . . . 84 .",
      silent16,
      ". 58 . 58 . 58 . 58 . 58 . 58 . 58 . 58"}},
    {"lingala_seben", "Lingala Seben Praise Climax", "Lingala & Seben",
     "1-4-1-5 High Seben • Blazing Seben Solo Guitar + Brass + Jumping Bass",
     "gm_seben_guitar", "gm_brass_section", "gm_picked_bass", 128, 4, 16, 1, 8, 16, {28, 34, 27, 61},
     {36, 38, 37, 42, 46, 47, 51, 70},
     {"120 . . . 116 . . . 120 . . . 116 . . .",
      "70 . 96 70 70 . 98 70 70 . 96 70 70 . 104 76",
      silent16,
      "96 80 96 80 96 80 96 80 96 80 96 80 96 80 100 84",
      ". . 84 . . . 84 . . . 84 . . . 86 .",
      silent16,
      silent16,
      "70 62 70 62 70 62 70 62 70 62 70 62 70 62 72 62"}},
    {"lingala_ndombolo", "Lingala Ndombolo Groove", "Lingala & Seben",
     "1-4-5-4 Kinshasa Dance • Ndombolo Hook Guitar + PolySynth + Sub Bass",
     "gm_seben_guitar", "gm_polysynth_pad", "gm_synth_bass1", 122, 4, 16, 2, 9, 16, {27, 38, 27, 90},
     {36, 38, 39, 42, 46, 47, 51, 70},
     {"118 . . 96 . . 110 . 118 . . 96 . . 110 .",
      ". . . . 108 . . . . . . . 110 . . .",
      ". . . . 90 . . . . . . . 92 . . 78",
      "90 . 90 80 90 . 90 80 90 . 90 80 90 . 94 82",
      ". . . . . . . 80 . . . . . . . 82",
      silent16,
      silent16,
      "66 58 66 58 66 58 66 58 66 58 66 58 66 58 68 58"}},
    {"lingala_mutuashi", "Lingala Mutuashi 6/8 Seben", "Lingala & Seben",
     "1-4-1-5 Kasai 6/8 • Mutuashi Lead Guitar + Kalimba + Dancing Bass",
     "gm_seben_guitar", "gm_kalimba", "gm_finger_bass", 116, 6, 12, 1, 10, 0, {108, 33, 27, 61},
     {36, 38, 76, 42, 46, 63, 67, 70},
     {"118 . . 92 96 . 116 . . 92 98 .",
      ". . 88 . . 106 . . 88 . . 108",
      "90 . . 84 . . 90 . . 84 . .",
      "88 . 76 84 . 76 88 . 76 84 . 78",
      ". . . . . 82 . . . . . 84",
      ". . 82 . 86 . . . 82 . 88 .",
      "84 . 74 . 80 . 84 . 74 . 82 .",
      "76 . 64 72 . 64 76 . 64 72 . 68"}},
    {"lingala_adoration", "Lingala Worship Adoration", "Lingala & Seben",
     "1-6m-4-5 Kinshasa Worship • Weeping Guitar + Warm Pad + Fretless Bass",
     "gm_rhumba_nylon", "gm_warm_pad", "gm_fretless_bass", 72, 4, 16, 3, 11, 40, {89, 35, 24, 49},
     {36, 40, 37, 42, 46, 45, 51, 69},
     {"100 . . . . . . . 92 . 74 . . . . .",
      ". . . . 82 . . . . . . . 86 . . .",
      silent16,
      "68 . 60 . 68 . 60 . 68 . 60 . 68 . 62 .",
      silent16,
      ". . . . . . . . . . . . . . 70 74",
      silent16,
      ". . 52 . . . 52 . . . 52 . . . 54 ."}},
    {"country_train", "Country Dunmere Train Beat", "Country",
     "1-4-1-5 Boom-Chick • Dunmere Steel Guitar + Harmonica + Upright Bass",
     "gm_country_steel", "gm_harmonica", "gm_acoustic_bass", 116, 4, 16, 6, 12, 40, {25, 32, 25, 22},
     {36, 40, 37, 42, 44, 45, 51, 69},
     {"108 . . . . . . . 104 . . . . . . .",
      "64 52 58 52 100 52 58 52 64 52 58 52 102 52 60 54",
      silent16,
      silent16,
      ". . . . 66 . . . . . . . 66 . . .",
      silent16,
      silent16,
      ". . 50 . . . 50 . . . 50 . . . 52 ."}},
    {"country_twostep", "Country Two-Step Shuffle", "Country",
     "1-4-5-1 Honky-Tonk • Brellan Piano + Fiddle + Walking Upright",
     "gm_bright_piano", "gm_solo_violin", "gm_acoustic_bass", 122, 4, 16, 6, 13, 0, {25, 32, 1, 40},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"112 . . . . . . . 108 . . . . . . .",
      ". . . . 104 . . . . . . . 106 . . .",
      silent16,
      "88 . 72 . 88 . 72 . 88 . 72 . 88 . 74 .",
      silent16,
      silent16,
      silent16,
      ". . . . 72 . . . . . . . 72 . . ."}},
    {"country_waltz", "Country Gospel Waltz", "Country",
     "1-4-1-5 True 3/4 Waltz • Country Fiddle + Acoustic Guitar + Upright",
     "gm_solo_violin", "gm_country_steel", "gm_acoustic_bass", 92, 3, 12, 6, 14, 40, {25, 32, 40, 1},
     {36, 40, 37, 42, 44, 45, 51, 69},
     {"106 . . . . . . . . . . .",
      ". . . . 82 . . . 84 . . .",
      silent12,
      "70 . 60 . 70 . 60 . 70 . 62 .",
      ". . . . 60 . . . 60 . . .",
      silent12,
      "72 . . . 64 . . . 64 . . .",
      silent12}},
    {"country_ballad", "Modern Nashville Ballad", "Country",
     "1-6m-4-5 Warm Country • Concert Grand + Pedal Steel + Strings + Bass",
     "sfz_salamander_c5", "gm_country_steel", "gm_finger_bass", 76, 4, 16, 3, 15, 8, {0, 33, 25, 48},
     {36, 38, 37, 42, 46, 45, 51, 69},
     {"104 . . . . . . 76 100 . . . . . . .",
      ". . . . 92 . . . . . . . 94 . . .",
      silent16,
      "76 . 64 . 76 . 64 . 76 . 64 . 76 . 66 .",
      ". . . . . . . . . . . . . . 64 .",
      silent16,
      silent16,
      ". . 48 . . . 48 . . . 48 . . . 50 ."}},
    {"reggae_zanduvi", "Zanduvi SA Roots Reggae", "Reggae",
     "6m-4-5-6m One-Drop • Brass Horn Anthem + B3 Skank + Bubble Bass",
     "gm_brass_section", "gm_drawbar_organ", "gm_finger_bass", 76, 4, 16, 4, 16, 0, {16, 33, 61, 28},
     {36, 38, 37, 42, 46, 47, 51, 75},
     {"72 . . . . . . . 112 . . . . . . .",
      silent16,
      ". . . . . . . . 100 . . . . . . .",
      "84 . 70 . 84 . 70 . 84 . 70 . 84 . 70 74",
      silent16,
      silent16,
      silent16,
      ". . . . 70 . . . . . . . 70 . . ."}},
    {"reggae_lovers_rock", "Lovers Rock Smooth Reggae", "Reggae",
     "1-6m-4-5 Smooth Roots • Vintage Rhodes EP + Organ Bubble + Trombone",
     "gm_rhodes_ep", "gm_drawbar_organ", "gm_finger_bass", 72, 4, 16, 3, 17, 32, {16, 33, 4, 57},
     {36, 38, 37, 42, 46, 47, 51, 70},
     {"100 . . . . . . . 104 . . . . . . .",
      silent16,
      ". . . . . . . . 92 . . . . . . .",
      "72 . 64 72 72 . 64 72 72 . 64 72 72 . 64 72",
      ". . . . . . 66 . . . . . . . 66 .",
      silent16,
      silent16,
      ". . 54 . . . 54 . . . 54 . . . 56 ."}},
    {"reggae_steppers", "Steppers Gospel Reggae", "Reggae",
     "1-4-5-4 Militant Roots • Gospel B3 Organ + Guitar Skank + Dub Bass",
     "gm_perc_organ", "gm_muted_guitar", "gm_synth_bass1", 84, 4, 16, 2, 18, 8, {28, 38, 17, 61},
     {36, 38, 37, 42, 46, 47, 51, 70},
     {"114 . . . 112 . . . 114 . . . 112 . . .",
      ". . . . . . . . 98 . . . . . . .",
      ". . . . . . . . . . . . . . 76 .",
      "70 . 90 . 70 . 90 . 70 . 90 . 70 . 92 .",
      ". . 82 . . . 82 . . . 82 . . . 84 .",
      silent16,
      silent16,
      silent16}},
    {"reggae_dancehall", "Ragga Dancehall Gospel", "Reggae",
     "1-4-1-5 Dancehall Riddim • Brass Section + FM DX7 Keys + 808 Sub Bass",
     "gm_brass_section", "gm_dx_chorus_ep", "gm_synth_bass1", 98, 4, 16, 1, 19, 25, {5, 38, 61, 81},
     {36, 38, 39, 42, 46, 47, 51, 56},
     {"120 . . . 114 . . . 120 . . . 114 . . .",
      ". . . 100 . . 104 . . . . 100 . . 106 .",
      ". . . 80 . . . . . . . 80 . . . .",
      "86 . 86 . 86 . 86 . 86 . 86 . 86 . 86 .",
      silent16,
      silent16,
      silent16,
      ". . 70 . . . . . . . 70 . . . . ."}},
    {"twist_classic", "Kenyan Classic Twist (60s)", "Twist & Benga",
     "1-4-1-5 Kirunde Twist • Twist Guitar + Alto Sax + Walking Bass",
     "gm_seben_guitar", "gm_perc_organ", "gm_finger_bass", 126, 4, 16, 1, 20, 0, {17, 33, 27, 65},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"112 . . . . . 90 . 110 . . . . . 90 .",
      ". . . . 106 . . . . . . . 108 . . .",
      silent16,
      "90 . 80 . 90 . 80 . 90 . 80 . 90 . 82 .",
      silent16,
      silent16,
      silent16,
      ". . . . 82 . . . . . . . 84 . . ."}},
    {"twist_zilizopendwa", "Zilizopendwa Fast Horn Twist", "Twist & Benga",
     "1-4-5-4 Retro Celebration • Trumpet & Sax Horns + Guitar + Twist Bass",
     "gm_trumpet", "gm_alto_sax", "gm_picked_bass", 132, 4, 16, 2, 21, 8, {27, 34, 56, 65},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"116 . . . 92 . . . 114 . . . 92 . . .",
      ". . . . 108 . . . . . . . 110 . . 72",
      silent16,
      "92 . 82 . 92 . 82 . 92 . 82 . 92 . 84 .",
      ". . . . . . . . . . . . . . 80 .",
      silent16,
      silent16,
      "70 . 76 . 70 . 76 . 70 . 76 . 70 . 78 ."}},
    {"twist_chakacha", "Coastal Chakacha Twist", "Twist & Benga",
     "1-4-5-4 Swahili 6/8 • Coastal Kinanda + Silver Flute + Rolling Bass",
     "gm_bandoneon", "gm_flute", "gm_finger_bass", 114, 6, 12, 2, 22, 0, {24, 33, 23, 73},
     {36, 38, 75, 42, 46, 63, 64, 70},
     {"116 . . . . . 108 . . . . .",
      ". . . 96 . . . . . 98 . .",
      "84 . 84 . . 84 . 84 . 84 . .",
      "80 . 66 80 . 66 80 . 66 80 . 68",
      silent12,
      ". . 84 . 80 . . . 84 . 82 .",
      "78 . . . . . 78 . . . . .",
      "64 56 60 64 56 60 64 56 60 64 56 62"}},
    {"twist_benga", "Classic Kenyan Benga", "Twist & Benga",
     "1-4-5-4 River Road Benga • 2 Interlocking Guitars + Pulsing Benga Bass",
     "gm_seben_guitar", "gm_country_steel", "gm_picked_bass", 128, 4, 16, 2, 23, 0, {28, 34, 27, 25},
     {36, 38, 37, 42, 46, 47, 51, 70},
     {"118 . . . 108 . . . 118 . . . 108 . . .",
      ". . . . 100 . . 70 . . . . 102 . . 74",
      ". . 76 . . . . . . . 76 . . . . .",
      "88 70 88 70 88 70 88 70 88 70 88 70 88 70 90 72",
      silent16,
      silent16,
      silent16,
      "62 . 62 . 62 . 62 . 62 . 62 . 62 . 64 ."}},
    {"gospel_worship_anthem", "Contemporary Worship Band", "Worship & Gospel",
     "1-5-6m-4 Modern Sanctuary • Grand Piano + Worship Guitar + Shimmer Pad",
     "sfz_salamander_c5", "gm_warm_pad", "gm_finger_bass", 74, 4, 16, 3, 24, 8, {0, 33, 29, 89},
     {36, 38, 37, 42, 46, 45, 51, 54},
     {"106 . . . . . . 80 100 . . . . . . .",
      ". . . . 96 . . . . . . . 98 . . .",
      silent16,
      "78 . 66 . 78 . 66 . 78 . 66 . 78 . 68 .",
      ". . . . . . . . . . . . . . 70 .",
      silent16,
      silent16,
      ". . . . 66 . . . . . . . 66 . . ."}},
    {"gospel_soul_rnb", "Gospel Soul & R&B 6/8", "Worship & Gospel",
     "1-3m-4-5 True 6/8 Soul • Vintage Rhodes EP + Hammond B3 + Choir + Bass",
     "gm_rhodes_ep", "gm_drawbar_organ", "gm_finger_bass", 80, 6, 12, 5, 25, 8, {16, 33, 4, 52},
     {36, 38, 37, 42, 46, 45, 51, 54},
     {"110 . . . . 80 104 . . . . .",
      ". . . 96 . . . . . 98 . .",
      silent12,
      "76 64 70 76 64 70 76 64 70 76 64 72",
      silent12,
      silent12,
      silent12,
      ". . . 66 . . . . . 66 . ."}},
    {"gospel_mzansi", "SA Joyous Mzansi Praise", "Worship & Gospel",
     "1-4-1-5 SA Gospel • Symphonic Brass + Percussive B3 + Choir + Synth Bass",
     "gm_brass_section", "gm_perc_organ", "gm_synth_bass1", 114, 4, 16, 1, 26, 16, {17, 38, 61, 52},
     {36, 38, 39, 42, 46, 47, 51, 54},
     {"116 . . . 104 . . 90 116 . . . 104 . . 90",
      ". . . . 104 . . . . . . . 106 . . .",
      ". . . . 92 . . . . . . . 94 . . .",
      "90 . 80 . 90 . 80 . 90 . 80 . 90 . 82 .",
      ". . 80 . . . 80 . . . 80 . . . 82 .",
      silent16,
      silent16,
      "68 . 74 . 68 . 74 . 68 . 74 . 68 . 76 ."}},
    {"gospel_pentecostal", "Pentecostal High-Praise Shout", "Worship & Gospel",
     "1-4-5-1 Praise Shout • Rotary B3 Organ + Bright Piano + Brass + Walking Bass",
     "gm_rock_organ", "gm_bright_piano", "gm_slap_bass1", 138, 4, 16, 6, 27, 16, {1, 36, 18, 61},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"118 . . 90 . . 110 . 118 . . 90 . . 110 .",
      ". . 70 . 112 . 70 . . . 70 . 114 . 72 .",
      silent16,
      "96 78 96 78 96 78 96 78 96 78 96 78 96 78 100 80",
      silent16,
      silent16,
      silent16,
      ". . . . 84 . . . . . . . 86 . . ."}},
    {"gospel_68", "Gospel 6/8 Anthem", "Studio Beats",
     "Classic 6/8 Sanctuary Beat • True 12-Step 6/8 Pocket",
     "sfz_salamander_c5", "gm_warm_pad", "gm_finger_bass", 84, 6, 12, 3, 25, 8, {0, 33, 4, 89},
     {36, 38, 37, 42, 46, 45, 51, 54},
     {"112 . . . . . 100 . . . . .",
      ". . . 100 . . . . . 102 . .",
      silent12,
      "84 70 76 84 70 76 84 70 76 84 70 78",
      silent12,
      ". . . . . . . . . . 76 80",
      silent12,
      silent12}},
    {"pop_groove", "Contemporary Pop Stage", "Studio Beats",
     "Modern Pop Stage Groove • Clean Acoustic Drum Kit",
     "sfz_salamander_c5", "gm_warm_pad", "gm_finger_bass", 112, 4, 16, 3, 24, 0, {0, 33, 1, 89},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"110 . . . . . . 84 106 . 88 . . . . .",
      ". . . . 104 . . . . . . . 106 . . .",
      silent16,
      "86 66 86 66 86 66 86 66 86 66 86 66 86 66 88 68",
      ". . . . . . . . . . . . . . 76 .",
      silent16,
      silent16,
      silent16}},
    {"studio_rock", "Studio Rock Anthem", "Studio Beats",
     "Driving Arena Rock Beat • Power Rock Drum Kit",
     "gm_bright_piano", "gm_rock_organ", "gm_picked_bass", 122, 4, 16, 1, 26, 16, {1, 34, 29, 18},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"120 . . . . . . 100 116 . 104 . . . . .",
      ". . . . 116 . . . . . . . 118 . . .",
      silent16,
      "96 . 88 . 96 . 88 . 96 . 88 . 96 . 90 .",
      silent16,
      silent16,
      silent16,
      silent16}},
    {"jazz_swing", "Jazz Swing Quartet", "Studio Beats",
     "Swinging Ride Cymbal & Pedal Hi-Hat • Jazz Club Kit",
     "sfz_salamander_c5", "gm_rhodes_ep", "gm_acoustic_bass", 128, 4, 16, 5, 25, 32, {4, 32, 66, 11},
     {36, 38, 37, 42, 44, 45, 51, 53},
     {"60 . . . 54 . . . 58 . . . 54 . . .",
      ". . . . . . . . . . . 50 . . . .",
      silent16,
      silent16,
      ". . . . 76 . . . . . . . 78 . . .",
      silent16,
      "96 . . . 90 . 70 . 94 . . . 90 . 72 .",
      silent16}},
    {"soul_funk", "Soul & Funk Pocket", "Studio Beats",
     "Tight 16th-Note Funk Pocket • Ghost Snares & Clav/Brass Groove",
     "gm_rhodes_ep", "gm_brass_section", "gm_slap_bass1", 102, 4, 16, 5, 25, 0, {7, 36, 61, 16},
     {36, 38, 37, 42, 46, 47, 51, 54},
     {"114 . 96 . . . . 90 . . 104 . . . . .",
      ". . . 46 112 . 44 . . 48 . 46 112 . . 50",
      silent16,
      "90 68 86 68 90 68 86 68 90 68 86 68 90 68 86 .",
      ". . . . . . . . . . . . . . . 80",
      silent16,
      silent16,
      silent16}},
    {"blues_shuffle", "Chicago Blues Shuffle", "Studio Beats",
     "12-Bar Blues Shuffle • Swung Ride & Snare Backbeat",
     "gm_perc_organ", "sfz_salamander_c5", "gm_finger_bass", 96, 4, 16, 6, 13, 8, {0, 33, 17, 22},
     {36, 38, 37, 42, 44, 45, 51, 54},
     {"108 . . . 84 . . . 104 . . . 84 . . .",
      ". . . . 102 . . 54 . . . . 104 . . 56",
      silent16,
      silent16,
      ". . . . 70 . . . . . . . 70 . . .",
      silent16,
      "92 . . 70 92 . . 70 92 . . 70 92 . . 72",
      silent16}},
    {"neosoul_lofi", "Neo-Soul / Gospel Keys", "Studio Beats",
     "Laid-Back Neo-Soul Pocket • 808 Kick, Rimshot & Warm Rhodes",
     "gm_rhodes_ep", "gm_warm_pad", "gm_synth_bass1", 88, 4, 16, 5, 25, 25, {4, 38, 4, 89},
     {36, 38, 37, 42, 46, 47, 51, 69},
     {"112 . . . . . . . . . 94 . . . . 80",
      silent16,
      ". . . . 96 . . . . . . . 98 . . .",
      "74 . 62 70 74 . 62 70 74 . 62 70 74 . 64 72",
      silent16,
      silent16,
      silent16,
      ". . 56 . . . 56 . . . 56 . . . 58 ."}},
};
// clang-format on

// "114 . . 86" -> {114, 0, 0, 86, 0...}. A row of the wrong length or a value
// outside 1-127 is a typo in the constant table above: the first run stops on it.
DrumLaneRow parseRow(const char* id, const char* row, int steps) {
    DrumLaneRow parsed{};
    const QStringList tokens = QString::fromLatin1(row).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (tokens.size() != steps)
        qFatal("built-in style %s: a drum row of %d steps, not %d", id, static_cast<int>(tokens.size()),
               steps);
    for (int s = 0; s < steps; ++s) {
        bool ok = true;
        const int v = tokens[s] == QLatin1String(".") ? 0 : tokens[s].toInt(&ok);
        if (!ok || v < 0 || v > 127)
            qFatal("built-in style %s: bad velocity \"%s\"", id, qPrintable(tokens[s]));
        parsed[static_cast<std::size_t>(s)] = static_cast<std::uint8_t>(v);
    }
    return parsed;
}

void setAt(DrumLaneRow& row, std::initializer_list<std::pair<int, int>> stepsAndVelocities) {
    for (const auto& [step, velocity] : stepsAndVelocities)
        row[static_cast<std::size_t>(step)] = static_cast<std::uint8_t>(velocity);
}

void raiseAt(DrumLaneRow& row, int firstStep, int stride, int endStep, int atLeast) {
    for (int s = firstStep; s < endStep; s += stride)
        row[static_cast<std::size_t>(s)] =
            std::max(row[static_cast<std::size_t>(s)], static_cast<std::uint8_t>(atLeast));
}

void deriveSections(StylePattern& style, const SectionGrid& base) {
    const bool twelve = style.stepsPerBar == 12;
    auto& grid = style.velocityGrid;
    auto section = [&grid](SongSection s) -> SectionGrid& {
        return grid[static_cast<std::size_t>(s)];
    };

    for (SongSection s : {SongSection::Intro, SongSection::VerseA, SongSection::VerseB, SongSection::Chorus,
                          SongSection::Fill})
        section(s) = base;

    SectionGrid& intro = section(SongSection::Intro);
    if (twelve) {
        setAt(intro[snareLane], {{10, 98}, {11, 106}});
        setAt(intro[tomLane], {{9, 92}});
    } else {
        setAt(intro[snareLane], {{14, 104}, {15, 110}});
        setAt(intro[tomLane], {{12, 90}, {13, 96}});
    }

    raiseAt(section(SongSection::VerseB)[rideLane], 0, twelve ? 3 : 4, style.stepsPerBar, 80);
    raiseAt(section(SongSection::Chorus)[rideLane], 0, 2, style.stepsPerBar, 84);

    SectionGrid& bridge = section(SongSection::Bridge);
    for (int lane : {kickLane, rimLane, closedHatLane, tomLane})
        bridge[static_cast<std::size_t>(lane)] = base[static_cast<std::size_t>(lane)];

    SectionGrid& fill = section(SongSection::Fill);
    if (twelve) {
        setAt(fill[snareLane], {{6, 92}, {10, 108}, {11, 114}});
        setAt(fill[tomLane], {{8, 96}, {9, 102}});
    } else {
        setAt(fill[snareLane], {{10, 90}, {12, 100}, {14, 110}, {15, 116}});
        setAt(fill[tomLane], {{11, 94}, {13, 104}});
    }

    SectionGrid& ending = section(SongSection::Ending);
    ending[kickLane][0] = 114;
    ending[snareLane][0] = 96;
    ending[rideLane][0] = 104;
}

} // namespace

std::vector<StylePattern> builtinStyles() {
    std::vector<StylePattern> styles;
    styles.reserve(std::size(catalogue));
    for (const BuiltinStyle& entry : catalogue) {
        StylePattern style;
        style.id = QString::fromLatin1(entry.id);
        style.name = QString::fromUtf8(entry.name);
        style.genre = QString::fromUtf8(entry.genre);
        style.subDescription = QString::fromUtf8(entry.description);
        style.mainPresetId = QString::fromLatin1(entry.mainPreset);
        style.layerPresetId = QString::fromLatin1(entry.layerPreset);
        style.splitPresetId = QString::fromLatin1(entry.splitPreset);
        style.bpm = entry.bpm;
        style.beatsPerBar = entry.beatsPerBar;
        style.stepsPerBar = entry.stepsPerBar;
        style.defaultProgIdx = entry.progressionIndex;
        style.arrangerArchetype = entry.archetype;
        style.drumKitProgram = entry.kit;
        style.rhythmGmProg = entry.programs[0];
        style.bassGmProg = entry.programs[1];
        style.leadGmProg = entry.programs[2];
        style.harmonyGmProg = entry.programs[3];
        SectionGrid base{};
        for (int lane = 0; lane < drumLaneCount; ++lane) {
            style.laneNotes[static_cast<std::size_t>(lane)] = entry.lanes[lane];
            base[static_cast<std::size_t>(lane)] = parseRow(entry.id, entry.rows[lane], entry.stepsPerBar);
        }
        deriveSections(style, base);
        styles.push_back(style);
    }
    return styles;
}

} // namespace tmb
