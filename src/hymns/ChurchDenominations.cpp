#include "ChurchDenominations.h"

#include <QString>
#include <QVariantMap>

#include <algorithm>

namespace tmb {

namespace {

constexpr ChurchDenomination rows[churchDenominationCount] = {
    {"all_churches", "🌍 All Churches (Universal Sanctuary)", "🌍 ALL CHURCHES",
     "Concert Grand C5 + Warm Worship Pad • Contemporary Sanctuary (74 BPM)", "sfz_salamander_c5",
     "gm_warm_pad", "gm_finger_bass", true, false, 0.58f, 0.36f, 0.22f, 24, 74.0f, "ALL"},
    {"catholic_kwaya", "⛪ Catholic Church (Kanisa Katoliki / Kwaya Kuu)", "⛪ CATHOLIC / KWAYA",
     "Cathedral Pipe Organ + Baroque Harpsichord + Split Bass • Kwaya Kuu 6/8 (112 BPM)", "gm_church_organ",
     "gm_harpsichord", "gm_finger_bass", true, true, 0.66f, 0.55f, 0.18f, 22, 112.0f,
     "Swahili & African Gospel"},
    {"anglican_ack", "✝️ Anglican / ACK (Kanisa la Kianglikana)", "✝️ ANGLICAN / ACK",
     "Cathedral Pipe Organ + Symphonic Strings • Liturgical Chorale & Hymns (82 BPM)", "gm_church_organ",
     "gm_string_ensemble", "gm_acoustic_bass", true, false, 0.64f, 0.50f, 0.15f, 25, 82.0f,
     "Classic Church Hymns"},
    {"sda_wasabato", "🕊️ SDA Church (Waadventista Wasabato / Nyimbo za Kristo)",
     "🕊️ SDA / WASABATO", "Pure Concert Grand C5 + Cathedral Choir Aahs • Sabbath SATB Harmony (76 BPM)",
     "sfz_salamander_c5", "gm_choir_aahs", "gm_fretless_bass", true, false, 0.52f, 0.44f, 0.20f, 25, 76.0f,
     "Tenzi za Rohoni (1–161)"},
    {"pcea_lutheran", "🏛️ PCEA / Presbyterian & Lutheran (KKKT / ELCT)", "🏛️ PCEA / LUTHERAN",
     "Concert Grand C5 + Pipe Organ Layer • Chorale & Vernacular Hymns (102 BPM)", "sfz_salamander_c5",
     "gm_church_organ", "gm_finger_bass", true, false, 0.64f, 0.40f, 0.16f, 12, 102.0f,
     "Classic Church Hymns"},
    {"aic_baptist_methodist", "📖 AIC / Baptist / Methodist (Tenzi za Rohoni)", "📖 AIC / TENZI",
     "Vintage Rhodes EP + Symphonic Strings + Bass • Tenzi za Rohoni Flow (90 BPM)", "gm_rhodes_ep",
     "gm_string_ensemble", "gm_finger_bass", true, true, 0.58f, 0.36f, 0.28f, 4, 90.0f,
     "Tenzi za Rohoni (1–161)"},
    {"pentecostal_charismatic", "🔥 Pentecostal & Charismatic (CITAM / TAG / Deliverance / PAG)",
     "🔥 PENTECOSTAL", "Gospel Percussive B3 Organ + Grand Piano + Slap Bass • High Praise (126 BPM)",
     "gm_perc_organ", "sfz_salamander_c5", "gm_slap_bass1", true, true, 0.70f, 0.32f, 0.36f, 27, 126.0f,
     "Praise & Worship Choruses"},
    {"akorino_wakorino", "🥁 Akorino / Wakorino & Roho (Kanisa la Wakorino)", "🥁 AKORINO / ROHO",
     "Wakorino Kinanda Accordion + Solo Trumpet + Picked Bass • 2/4 Tambourine (124 BPM)",
     "gm_mugithi_accordion", "gm_trumpet", "gm_picked_bass", true, true, 0.68f, 0.26f, 0.22f, 1, 124.0f,
     "Swahili & African Gospel"},
    {"mugithi_vernacular", "🎸 Mugithi & Vernacular Gospel (Kikuyu / Kamba / Kalenjin / Luo)",
     "🎸 VERNACULAR / BENGA",
     "Acoustic Steel Guitar + Kinanda + River Road Benga Bass • Vernacular Praise (124 BPM)",
     "gm_country_steel", "gm_mugithi_accordion", "gm_picked_bass", true, true, 0.70f, 0.24f, 0.20f, 23,
     124.0f, "Swahili & African Gospel"},
    {"congolese_seben", "🎺 Congolese / Lingala Seben Church (Kanisa la Kongo / Seben)", "🎺 CONGOLESE SEBEN",
     "Seben Mi-Solo Clean Guitar + Symphonic Brass + Soukous Bass • Seben Climax (128 BPM)",
     "gm_seben_guitar", "gm_brass_section", "gm_picked_bass", true, true, 0.74f, 0.28f, 0.35f, 8, 128.0f,
     "Swahili & African Gospel"},
};

} // namespace

const ChurchDenomination& churchDenomination(int index) {
    return rows[std::clamp(index, 0, churchDenominationCount - 1)];
}

QVariantList churchDenominationsAsVariantList() {
    QVariantList list;
    for (int i = 0; i < churchDenominationCount; ++i) {
        const ChurchDenomination& row = rows[i];
        list.append(QVariantMap{{QStringLiteral("index"), i},
                                {QStringLiteral("id"), QString::fromUtf8(row.id)},
                                {QStringLiteral("name"), QString::fromUtf8(row.name)},
                                {QStringLiteral("shortLabel"), QString::fromUtf8(row.shortLabel)},
                                {QStringLiteral("summary"), QString::fromUtf8(row.summary)},
                                {QStringLiteral("defaultCategory"), QString::fromUtf8(row.defaultCategory)}});
    }
    return list;
}

} // namespace tmb
