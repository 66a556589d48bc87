#include "BuiltinPresets.h"

namespace tmb {

namespace {

struct SoundFontRow {
    const char* id;
    const char* name;
    const char* category;
    const char* subcategory;
    const char* manufacturerStyle;
    int program;
    float brightness;
    float reverbAmount;
    float chorusAmount;
    bool favorite;
};

// Bank 0 of the GM font; the order is the catalogue order.
constexpr SoundFontRow soundFontRows[] = {
    {"gm_acoustic_grand", "Yamaha-Style Concert Grand (SF2)", "Pianos & Keyboards", "Concert Grand",
     "Yamaha CFX / S6 Style", 0, 0.55f, 0.28f, 0.0f, true},
    {"gm_bright_piano", "Bright Stage Piano", "Pianos & Keyboards", "Bright Grand",
     "Yamaha Montage Live Style", 1, 0.75f, 0.22f, 0.0f, false},
    {"gm_electric_grand", "Stage Electric Grand CP", "Pianos & Keyboards", "Electric Grand",
     "Yamaha CP88 Style", 2, 0.65f, 0.25f, 0.2f, false},
    {"gm_rhodes_ep", "Vintage Tine Electric Piano (Rhodes)", "Pianos & Keyboards", "Electric Piano",
     "Fender Rhodes / Nord Style", 4, 0.5f, 0.3f, 0.25f, true},
    {"gm_dx_chorus_ep", "FM Chorused Electric Piano", "Pianos & Keyboards", "Electric Piano",
     "Yamaha DX7 / Montage Style", 5, 0.62f, 0.35f, 0.45f, true},
    {"gm_harpsichord", "Baroque Concert Harpsichord", "Pianos & Keyboards", "Harpsichord",
     "Classical Keyboards", 6, 0.7f, 0.3f, 0.0f, false},
    {"gm_clavinet", "Funk D6 Clavinet", "Pianos & Keyboards", "Clavinet", "Hohner / Nord Style", 7, 0.72f,
     0.15f, 0.1f, false},
    {"gm_celesta", "Orchestral Celesta", "Pianos & Keyboards", "Celesta", "Kawai / Orchestral Style", 8, 0.6f,
     0.4f, 0.0f, false},
    {"gm_drawbar_organ", "Tonewheel Drawbar Organ", "Organs & Vintage", "Drawbar Organ",
     "Hammond B3 / SKX Style", 16, 0.58f, 0.26f, 0.3f, true},
    {"gm_perc_organ", "Gospel Percussive B3 Organ", "Organs & Vintage", "Gospel Organ",
     "Hammond Gospel Style", 17, 0.64f, 0.28f, 0.35f, true},
    {"gm_rock_organ", "Rotary Overdrive Rock Organ", "Organs & Vintage", "Rock Organ",
     "Vintage Tonewheel Style", 18, 0.7f, 0.25f, 0.25f, false},
    {"gm_church_organ", "Cathedral Pipe Organ", "Organs & Vintage", "Pipe Organ", "Sanctuary / Classical", 19,
     0.65f, 0.55f, 0.1f, true},
    {"gm_reed_organ", "Vintage Harmonium / Reed Organ", "Organs & Vintage", "Vintage Keys",
     "Traditional Worship", 20, 0.5f, 0.3f, 0.0f, false},
    {"gm_harmonica", "Country & Gospel Blues Harmonica", "Organs & Vintage", "Reeds",
     "Nashville / Folk Style", 22, 0.64f, 0.28f, 0.12f, false},
    {"gm_bandoneon", "Coastal Bandoneon / Kinanda", "Organs & Vintage", "Accordions",
     "Taarab / Chakacha Style", 23, 0.62f, 0.26f, 0.22f, false},
    {"gm_warm_pad", "Lush Worship Warm Pad", "Synthesizers", "Pads", "Yamaha MODX / Roland Style", 89, 0.45f,
     0.5f, 0.35f, true},
    {"gm_polysynth_pad", "Analog PolySynth Pad", "Synthesizers", "Pads", "Roland Jupiter / Juno Style", 90,
     0.6f, 0.4f, 0.3f, false},
    {"gm_choir_pad", "Heavenly Space Choir Pad", "Synthesizers", "Evolving Textures", "Korg Kronos Style", 91,
     0.55f, 0.52f, 0.25f, false},
    {"gm_halo_pad", "Shimmer Halo Worship Pad", "Synthesizers", "Evolving Textures", "Montage Shimmer Style",
     94, 0.6f, 0.55f, 0.3f, true},
    {"gm_saw_lead", "Analog Sawtooth Lead", "Synthesizers", "Analog Leads", "Moog / Prophet Style", 81, 0.72f,
     0.28f, 0.2f, false},
    {"gm_synth_bass1", "Fat Analog Synth Bass", "Synthesizers", "Basses", "Moog Sub Bass Style", 38, 0.5f,
     0.1f, 0.0f, true},
    {"gm_finger_bass", "Electric Fingered Bass (Split Ready)", "Synthesizers", "Basses",
     "Yamaha BB / Jazz Bass", 33, 0.55f, 0.12f, 0.0f, true},
    {"gm_picked_bass", "Benga & Seben Picked Electric Bass", "Synthesizers", "Basses",
     "River Road / Soukous Bass", 34, 0.68f, 0.1f, 0.0f, true},
    {"gm_fretless_bass", "Warm Fretless Ballad Bass", "Synthesizers", "Basses", "Smooth Rhumba / Worship", 35,
     0.52f, 0.16f, 0.12f, false},
    {"gm_slap_bass1", "Gospel Praise & Funk Slap Bass", "Synthesizers", "Basses", "Tolvey / Gospel Shout", 36,
     0.72f, 0.12f, 0.0f, true},
    {"gm_string_ensemble", "Symphonic String Orchestra", "Orchestral & Acoustic", "Strings",
     "Cinema / Montage Strings", 48, 0.58f, 0.45f, 0.2f, true},
    {"gm_slow_strings", "Legato Warm Strings", "Orchestral & Acoustic", "Strings", "Worship Layer Strings",
     49, 0.5f, 0.48f, 0.22f, false},
    {"gm_kwaya_pizzicato", "Kwaya Kuu Pizzicato Strings", "Orchestral & Acoustic", "Strings",
     "East African Kwaya Style", 45, 0.66f, 0.34f, 0.15f, true},
    {"gm_solo_violin", "Expressive Solo Violin / Fiddle", "Orchestral & Acoustic", "Solo Strings",
     "Country & Orchestral Solo", 40, 0.62f, 0.35f, 0.0f, false},
    {"gm_solo_cello", "Concert Solo Cello", "Orchestral & Acoustic", "Solo Strings", "Orchestral Solo", 42,
     0.55f, 0.38f, 0.0f, false},
    {"gm_concert_harp", "Orchestral Concert Harp", "Orchestral & Acoustic", "Harp", "Orchestral Plucked", 46,
     0.6f, 0.42f, 0.0f, false},
    {"gm_brass_section", "Symphonic Brass Section", "Orchestral & Acoustic", "Brass", "Yamaha Brass Section",
     61, 0.68f, 0.32f, 0.1f, false},
    {"gm_trumpet", "Zilizopendwa & Kwaya Solo Trumpet", "Orchestral & Acoustic", "Brass",
     "East African Horn Section", 56, 0.7f, 0.3f, 0.08f, true},
    {"gm_trombone", "Roots Reggae & Ska Trombone", "Orchestral & Acoustic", "Brass",
     "Kingston / SA Horn Section", 57, 0.65f, 0.3f, 0.08f, false},
    {"gm_french_horn", "Warm French Horn Ensemble", "Orchestral & Acoustic", "Brass", "Orchestral Brass", 60,
     0.55f, 0.38f, 0.0f, false},
    {"gm_alto_sax", "Gospel & Twist Alto Saxophone", "Orchestral & Acoustic", "Woodwinds",
     "Zilizopendwa / Praise Sax", 65, 0.68f, 0.32f, 0.12f, true},
    {"gm_tenor_sax", "Mabeko O.K. Jazz Tenor Saxophone", "Orchestral & Acoustic", "Woodwinds",
     "Congolese Rhumba Horn", 66, 0.64f, 0.34f, 0.12f, true},
    {"gm_flute", "Silver Concert Flute", "Orchestral & Acoustic", "Woodwinds", "Orchestral Woodwinds", 73,
     0.6f, 0.35f, 0.0f, false},
    {"gm_pan_flute", "Sanctuary Pan Flute", "Orchestral & Acoustic", "Woodwinds", "Devotional Worship Lead",
     75, 0.58f, 0.42f, 0.15f, false},
    {"gm_whistle", "Township Mbaqanga Jive Whistle", "Orchestral & Acoustic", "Woodwinds",
     "SA Kwela / Twist Style", 78, 0.7f, 0.28f, 0.0f, false},
    {"gm_choir_aahs", "Cathedral Choir Aahs", "Orchestral & Acoustic", "Choir", "Sanctuary Vocal Ensemble",
     52, 0.52f, 0.5f, 0.25f, true},
    {"gm_satb_choir_oohs", "Choir SATB Voice Oohs (Mwalimu)", "Orchestral & Acoustic", "Choir",
     "East African Kwaya SATB", 53, 0.54f, 0.48f, 0.22f, true},
    {"gm_acoustic_bass", "Upright Acoustic Jazz Bass", "Orchestral & Acoustic", "Acoustic Bass",
     "Jazz Split Upright", 32, 0.5f, 0.15f, 0.0f, false},
    {"gm_seben_guitar", "Seben Mi-Solo Clean Electric Guitar", "World & Percussion", "African Guitars",
     "Congolese Soukous Style", 27, 0.74f, 0.26f, 0.35f, true},
    {"gm_jazz_guitar", "Mabeko Warm Hollow-Body Jazz Guitar", "World & Percussion", "African Guitars",
     "O.K. Jazz Rhumba Style", 26, 0.58f, 0.28f, 0.2f, true},
    {"gm_muted_guitar", "Soukous & Funk Muted Rhythm Guitar", "World & Percussion", "African Guitars",
     "Seben / Reggae Skank", 28, 0.7f, 0.18f, 0.15f, true},
    {"gm_overdrive_guitar", "Arena Praise Overdrive Lead Guitar", "World & Percussion", "Electric Guitars",
     "Contemporary Worship Lead", 29, 0.76f, 0.34f, 0.2f, false},
    {"gm_mugithi_accordion", "Mugithi & Wakorino Accordion (Kinanda)", "World & Percussion", "African Folk",
     "Kenyan Mugithi / Akorino", 21, 0.65f, 0.24f, 0.2f, true},
    {"gm_rhumba_nylon", "Rhumba Lingala Nylon Guitar", "World & Percussion", "African Guitars",
     "Soukous / Rhumba Style", 24, 0.58f, 0.32f, 0.22f, true},
    {"gm_country_steel", "Country Gospel Steel Acoustic Guitar", "World & Percussion", "Acoustic Guitars",
     "Nashville Gospel Style", 25, 0.68f, 0.25f, 0.15f, true},
    {"gm_kalimba", "African Thumb Piano (Kalimba)", "World & Percussion", "African Percussion",
     "Traditional African", 108, 0.62f, 0.35f, 0.1f, true},
    {"gm_church_bells", "Sanctuary Tubular Bells (Chimes)", "World & Percussion", "Mallet Percussion",
     "Catholic & Liturgical", 14, 0.68f, 0.5f, 0.1f, true},
    {"gm_kwaya_glockenspiel", "Kwaya Choir Bell (Glockenspiel)", "World & Percussion", "Mallet Percussion",
     "Kwaya Counter-Melody", 9, 0.72f, 0.42f, 0.1f, true},
    {"gm_marimba", "Concert Rosewood Marimba", "World & Percussion", "Mallet Percussion", "World Mallet", 12,
     0.58f, 0.32f, 0.0f, false},
    {"gm_vibraphone", "Jazz Motor Vibraphone", "World & Percussion", "Mallet Percussion", "Jazz Mallet", 11,
     0.6f, 0.38f, 0.25f, false},
    {"gm_steel_drums", "Caribbean Steel Pan", "World & Percussion", "Steel Pan", "Island Percussion", 114,
     0.68f, 0.3f, 0.15f, false},
    {"gm_nyatiti_harp", "Luo Nyatiti / Obokano Plucked Harp", "World & Percussion", "Regional Plucked",
     "Lake Victoria Benga", 104, 0.66f, 0.3f, 0.12f, true},
    {"gm_koto", "Traditional Plucked Koto", "World & Percussion", "Regional Plucked", "World Plucked", 107,
     0.65f, 0.34f, 0.0f, false},
};

struct SynthRow {
    const char* id;
    const char* name;
    const char* category;
    const char* subcategory;
    const char* manufacturerStyle;
    int synthPatch;
    float brightness;
    float reverbAmount;
    float chorusAmount;
};

constexpr SynthRow synthRows[] = {
    {"synth_worship_pad", "Montage Warm Worship Pad (Synth Engine)", "Synthesizers", "Pads",
     "Yamaha Montage AN-X Style", 0, 0.42f, 0.55f, 0.4f},
    {"synth_fm_ep", "DX7 FM Tine Electric Piano (Synth Engine)", "Pianos & Keyboards", "Electric Piano",
     "Yamaha FM-X / DX7II Style", 1, 0.6f, 0.32f, 0.35f},
    {"synth_gospel_organ", "Gospel 9-Drawbar Organ + Rotary Leslie", "Organs & Vintage", "Drawbar Organ",
     "Hammond B3 Physical Model", 2, 0.65f, 0.28f, 0.3f},
    {"synth_felt_piano", "Intimate Felt Piano (Physical Modeling)", "Pianos & Keyboards", "Felt Piano",
     "Nord Felt / Studio Style", 3, 0.3f, 0.42f, 0.1f},
    {"synth_sub_bass", "Analog Sub & Ladder Bass (Split Engine)", "Synthesizers", "Basses",
     "Moog Sub Phatty Style", 4, 0.45f, 0.08f, 0.0f},
    {"synth_cs80_brass", "CS-80 Expressive Blade Brass Lead", "Synthesizers", "Analog Leads",
     "Yamaha CS-80 Vintage Style", 5, 0.68f, 0.45f, 0.25f},
    {"synth_shimmer_str", "Cinematic Shimmer Strings Ensemble", "Orchestral & Acoustic", "Strings",
     "Hybrid Synth Strings", 6, 0.55f, 0.5f, 0.35f},
    {"synth_kalimba_model", "African Kalimba / Marimba Resonator", "World & Percussion", "African Percussion",
     "Modal Physical Model", 7, 0.62f, 0.35f, 0.15f},
};

struct LegacyId {
    const char* oldId;
    const char* newId;
};

constexpr LegacyId legacyIds[] = {
    {"concert_grand_c5", "sfz_salamander_c5"},   {"warm_worship_pad", "gm_warm_pad"},
    {"cathedral_organ", "gm_church_organ"},      {"kwaya_organ", "gm_church_organ"},
    {"symphonic_strings", "gm_string_ensemble"}, {"gospel_b3_organ", "gm_perc_organ"},
    {"vintage_ep_rhodes", "gm_rhodes_ep"},       {"kwaya_harpsichord", "gm_harpsichord"},
};

} // namespace

std::vector<InstrumentPreset> builtinSoundFontPresets(const QString& fontPath, qint64 fontSize) {
    std::vector<InstrumentPreset> presets;
    presets.reserve(std::size(soundFontRows));
    for (const SoundFontRow& row : soundFontRows) {
        InstrumentPreset preset;
        preset.id = QString::fromLatin1(row.id);
        preset.name = QString::fromUtf8(row.name);
        preset.category = QString::fromUtf8(row.category);
        preset.subcategory = QString::fromUtf8(row.subcategory);
        preset.manufacturerStyle = QString::fromUtf8(row.manufacturerStyle);
        preset.engineType = 1;
        preset.filePath = fontPath;
        preset.bank = 0;
        preset.program = row.program;
        preset.brightness = row.brightness;
        preset.reverbAmount = row.reverbAmount;
        preset.chorusAmount = row.chorusAmount;
        preset.licenseInfo = QStringLiteral("MIT / FluidR3 Open SoundFont");
        preset.sizeBytes = fontSize;
        preset.isFavorite = row.favorite;
        presets.push_back(std::move(preset));
    }
    return presets;
}

std::vector<InstrumentPreset> builtinSynthPresets() {
    std::vector<InstrumentPreset> presets;
    presets.reserve(std::size(synthRows));
    for (const SynthRow& row : synthRows) {
        InstrumentPreset preset;
        preset.id = QString::fromLatin1(row.id);
        preset.name = QString::fromUtf8(row.name);
        preset.category = QString::fromUtf8(row.category);
        preset.subcategory = QString::fromUtf8(row.subcategory);
        preset.manufacturerStyle = QString::fromUtf8(row.manufacturerStyle);
        preset.engineType = 2;
        preset.synthPatch = row.synthPatch;
        preset.brightness = row.brightness;
        preset.reverbAmount = row.reverbAmount;
        preset.chorusAmount = row.chorusAmount;
        preset.licenseInfo = QStringLiteral("Tembora Built-in DSP Synth Engine");
        presets.push_back(std::move(preset));
    }
    return presets;
}

QString translateLegacyPresetId(const QString& id) {
    for (const LegacyId& legacy : legacyIds) {
        if (id == QLatin1String(legacy.oldId)) return QString::fromLatin1(legacy.newId);
    }
    return id;
}

} // namespace tmb
