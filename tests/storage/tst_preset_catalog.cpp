// The instrument catalogue: what it lists and in which order, with and without a
// General MIDI font; favourites and imports that persist across instances; search;
// lookup; unique ids for same-named files; databases written by earlier versions.

#include "CatalogFixture.h"
#include "storage/ProjectManager.h"
#include "support/TestEnvironment.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

using namespace tmb;
using tmb::test::CatalogFixture;
using tmb::test::countRows;

namespace {

QStringList idsOf(const std::vector<InstrumentPreset>& presets) {
    QStringList ids;
    for (const InstrumentPreset& preset : presets)
        ids.append(preset.id);
    return ids;
}

QStringList idsOf(const QVariantList& maps) {
    QStringList ids;
    for (const QVariant& map : maps)
        ids.append(map.toMap().value(QStringLiteral("id")).toString());
    return ids;
}

const InstrumentPreset& presetIn(const ProjectManager& manager, const QString& id) {
    for (const InstrumentPreset& preset : manager.presets()) {
        if (preset.id == id) return preset;
    }
    qFatal("no preset %s", qPrintable(id));
}

QStringList idsStartingWith(const ProjectManager& manager, const QString& prefix) {
    return idsOf(manager.presets()).filter(QRegularExpression(QLatin1Char('^') + prefix));
}

} // namespace

class PresetCatalogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void listsLibrariesGeneralMidiSynthsDiscoveredFilesInOrder() {
        CatalogFixture world;
        const QString font = CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2", 4096);
        QFile::link(font, world.soundFonts() + "/default-GM.sf2"); // Debian's alternative link
        const QString smallFont = CatalogFixture::writeFile(world.soundFonts() + "/TimGM6mb.sf2", 300);
        CatalogFixture::writeFile(world.soundFonts() + "/Red_Zeppelin_4_LV2.sf2"); // a drum kit
        CatalogFixture::writeFile(world.home() + "/Music/FluidR3_GM.sf2");         // a stray copy
        const QString ep = CatalogFixture::writeFile(world.home() + "/Music/EP.SF2", 2000);
        const QString upright = CatalogFixture::writeFile(world.home() + "/Music/Pianos/Upright.sfz", 100);
        CatalogFixture::writeFile(world.home() + "/Music/notes.txt");
        CatalogFixture::writeFile(world.home() + "/Music/.hidden/Secret.sfz");
        const QString strings = CatalogFixture::writeFile(world.home() + "/Downloads/Strings.sf2", 700);
        CatalogLocations locations = world.locations();
        // The concert grand sits in the music folder: listed once, as the library.
        CatalogFixture::writeFile(locations.concertGrandSfz, 10);

        ProjectManager manager(locations);
        const QStringList ids = idsOf(manager.presets());
        QCOMPARE(ids.size(), 1 + 58 + 8 + 4);
        QCOMPARE(ids.first(), QStringLiteral("sfz_salamander_c5"));
        QCOMPARE(ids.mid(1, 3), QStringList({"gm_acoustic_grand", "gm_bright_piano", "gm_electric_grand"}));
        QCOMPARE(ids.at(58), QStringLiteral("gm_koto"));
        QCOMPARE(ids.mid(59, 8), QStringList({"synth_worship_pad", "synth_fm_ep", "synth_gospel_organ",
                                              "synth_felt_piano", "synth_sub_bass", "synth_cs80_brass",
                                              "synth_shimmer_str", "synth_kalimba_model"}));
        QCOMPARE(ids.mid(67), QStringList({"auto_EP", "auto_Upright", "auto_Strings", "auto_TimGM6mb"}));

        const InstrumentPreset& grand = presetIn(manager, "sfz_salamander_c5");
        QCOMPARE(grand.engineType, 0);
        QCOMPARE(grand.sizeBytes, 1240000000);
        QVERIFY(grand.isFavorite);

        const InstrumentPreset& organ = presetIn(manager, "gm_church_organ");
        QCOMPARE(organ.name, QStringLiteral("Cathedral Pipe Organ"));
        QCOMPARE(organ.subcategory, QStringLiteral("Pipe Organ"));
        QCOMPARE(organ.engineType, 1);
        QCOMPARE(organ.filePath, font);
        QCOMPARE(organ.bank, 0);
        QCOMPARE(organ.program, 19);
        QCOMPARE(organ.brightness, 0.65f);
        QCOMPARE(organ.reverbAmount, 0.55f);
        QCOMPARE(organ.chorusAmount, 0.1f);
        QCOMPARE(organ.sizeBytes, 4096);
        QCOMPARE(organ.licenseInfo, QStringLiteral("MIT / FluidR3 Open SoundFont"));
        QVERIFY(organ.isFavorite);
        QVERIFY(!presetIn(manager, "gm_bright_piano").isFavorite);
        int tableFavorites = 0;
        for (const InstrumentPreset& preset : manager.presets())
            tableFavorites += preset.isFavorite && preset.id.startsWith("gm_");
        QCOMPARE(tableFavorites, 29);

        const InstrumentPreset& kalimba = presetIn(manager, "synth_kalimba_model");
        QCOMPARE(kalimba.engineType, 2);
        QCOMPARE(kalimba.synthPatch, 7);
        QVERIFY(kalimba.filePath.isEmpty());
        QCOMPARE(kalimba.sizeBytes, 0);
        QVERIFY(!kalimba.licenseInfo.isEmpty());

        const InstrumentPreset& epPreset = presetIn(manager, "auto_EP");
        QCOMPARE(epPreset.name, QStringLiteral("EP (Auto-Discovered SF2)"));
        QCOMPARE(epPreset.category, QStringLiteral("Pianos & Keyboards"));
        QCOMPARE(epPreset.subcategory, QStringLiteral("SF2 Library"));
        QCOMPARE(epPreset.manufacturerStyle, QStringLiteral("Zero-Setup Auto-Loaded"));
        QCOMPARE(epPreset.engineType, 1);
        QCOMPARE(epPreset.filePath, ep);
        QCOMPARE(epPreset.sizeBytes, 2000);
        QCOMPARE(epPreset.licenseInfo, QStringLiteral("Auto-Discovered Local Asset"));
        QCOMPARE(presetIn(manager, "auto_Upright").engineType, 0);
        QCOMPARE(presetIn(manager, "auto_Upright").subcategory, QStringLiteral("SFZ Library"));
        QCOMPARE(presetIn(manager, "auto_Upright").filePath, upright);
        QCOMPARE(presetIn(manager, "auto_Strings").filePath, strings);
        QCOMPARE(presetIn(manager, "auto_TimGM6mb").filePath, smallFont);
        QCOMPARE(manager.presetCategories(),
                 QStringList({"Pianos & Keyboards", "Organs & Vintage", "Synthesizers",
                              "Orchestral & Acoustic", "World & Percussion"}));
    }

    // Where the General MIDI programs point, by what the SoundFont folders hold.
    void findsTheGeneralMidiFont_data() {
        QTest::addColumn<QStringList>("files"); // relative to the fixture root
        QTest::addColumn<QString>("expected");  // empty: no GM programs
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("FluidR3 first")
            << QStringList{"a/default.sf2", "b/FluidR3_GM.sf2"} << QStringLiteral("b/FluidR3_GM.sf2");
        QTest::newRow("default.sf2") << QStringList{"b/default.sf2"} << QStringLiteral("b/default.sf2");
        QTest::newRow("Debian default-GM")
            << QStringList{"b/default-GM.sf2"} << QStringLiteral("b/default-GM.sf2");
        QTest::newRow("folder order")
            << QStringList{"a/FluidR3_GM.sf2", "b/FluidR3_GM.sf2"} << QStringLiteral("a/FluidR3_GM.sf2");
    }
    void findsTheGeneralMidiFont() {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        CatalogFixture world;
        for (const QString& file : files)
            CatalogFixture::writeFile(world.root() + "/" + file);
        CatalogLocations locations = world.locations();
        locations.soundFontFolders = {world.root() + "/a", world.root() + "/b"};
        locations.scanFolders = locations.soundFontFolders;

        ProjectManager manager(locations);
        const auto first = manager.firstPreset();
        QVERIFY(first);
        if (expected.isEmpty()) {
            QCOMPARE(first->id, QStringLiteral("synth_worship_pad"));
            QCOMPARE(idsStartingWith(manager, "gm_").size(), 0);
            QCOMPARE(manager.presetCount(), 8);
        } else {
            QCOMPARE(first->id, QStringLiteral("gm_acoustic_grand"));
            QCOMPARE(first->filePath, world.root() + "/" + expected);
            QCOMPARE(idsStartingWith(manager, "gm_").size(), 58);
            // The GM font is not listed a second time; other fonts are found.
            for (const QString& file : files) {
                const QString path = world.root() + "/" + file;
                const bool listedAsAuto = std::any_of(
                    manager.presets().begin(), manager.presets().end(), [&](const InstrumentPreset& p) {
                        return p.filePath == path && p.id.startsWith("auto_");
                    });
                QCOMPARE(listedAsAuto, path != first->filePath && !path.endsWith("/default.sf2") &&
                                           !path.endsWith("/FluidR3_GM.sf2"));
            }
        }
    }

    void favouritesPersistAcrossInstances() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        CatalogFixture::writeFile(world.home() + "/Music/Choir.sfz");
        const QString mine = CatalogFixture::writeFile(world.root() + "/elsewhere/Mine.sf2");
        {
            ProjectManager manager(world.locations());
            QVERIFY(manager.isDatabaseOpen());
            QVERIFY(manager.importInstrumentFile(mine));
            QCOMPARE(manager.toggleFavorite("gm_acoustic_grand"), false); // a table favourite cleared
            QCOMPARE(manager.toggleFavorite("gm_bright_piano"), true);
            QCOMPARE(manager.toggleFavorite("auto_Choir"), true);
            QCOMPARE(manager.toggleFavorite("user_Mine"), true);
            QCOMPARE(manager.toggleFavorite("synth_sub_bass"), true);
            QCOMPARE(manager.toggleFavorite("synth_sub_bass"), false);
            QCOMPARE(manager.toggleFavorite("no_such_preset"), false);
            QCOMPARE(countRows(world.database(), "favorites"), 3);
        }
        {
            ProjectManager manager(world.locations());
            QVERIFY(!presetIn(manager, "gm_acoustic_grand").isFavorite);
            QVERIFY(presetIn(manager, "gm_bright_piano").isFavorite);
            QVERIFY(presetIn(manager, "auto_Choir").isFavorite);
            QVERIFY(presetIn(manager, "user_Mine").isFavorite);
            QVERIFY(!presetIn(manager, "synth_sub_bass").isFavorite);
            QVERIFY(presetIn(manager, "gm_church_organ").isFavorite); // untouched table marks stay
            QVERIFY(manager.presetWithId("no_such_preset") == std::nullopt);

            QCOMPARE(manager.toggleFavorite("gm_acoustic_grand"), true);
            QCOMPARE(manager.toggleFavorite("auto_Choir"), false);
        }
        ProjectManager manager(world.locations());
        QVERIFY(presetIn(manager, "gm_acoustic_grand").isFavorite);
        QVERIFY(!presetIn(manager, "auto_Choir").isFavorite);
        QVERIFY(presetIn(manager, "gm_bright_piano").isFavorite);
        const QStringList favourites = idsOf(manager.presetsAsVariantList({}, {}, true));
        QVERIFY(favourites.contains("user_Mine"));
        QVERIFY(!favourites.contains("auto_Choir"));
        QCOMPARE(favourites.size(), 29 + 2); // the table's, plus the bright piano and the import
    }

    // Databases written before cleared table marks were stored keep their contents
    // and gain the new table.
    void opensDatabasesWrittenBefore() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        const QString old = CatalogFixture::writeFile(world.root() + "/old/Old.sfz");
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(world.database().toUtf8().constData(), &db), SQLITE_OK);
        const QByteArray script =
            "CREATE TABLE favorites (preset_id TEXT PRIMARY KEY);"
            "CREATE TABLE imported_files (file_path TEXT PRIMARY KEY, added_at TEXT);"
            "CREATE TABLE sty_beats_catalog (file_name TEXT PRIMARY KEY, style_name TEXT NOT NULL, "
            "genre_family "
            "TEXT NOT NULL, added_at TEXT NOT NULL);"
            "INSERT INTO favorites VALUES ('gm_koto');"
            "INSERT INTO favorites VALUES (NULL);"
            "INSERT INTO imported_files VALUES ('" +
            old.toUtf8() +
            "', '2024-01-01T00:00:00Z');"
            "INSERT INTO sty_beats_catalog VALUES ('a.sty', 'A', 'Pop', '2024-01-01T00:00:00Z');";
        QCOMPARE(sqlite3_exec(db, script.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        {
            ProjectManager manager(world.locations());
            QVERIFY(manager.isDatabaseOpen());
            QVERIFY(presetIn(manager, "gm_koto").isFavorite);
            QCOMPARE(presetIn(manager, "user_Old").filePath, old);
            QCOMPARE(manager.toggleFavorite("gm_church_organ"), false);
        }
        ProjectManager manager(world.locations());
        QVERIFY(!presetIn(manager, "gm_church_organ").isFavorite);
        QVERIFY(presetIn(manager, "gm_koto").isFavorite);
        QCOMPARE(countRows(world.database(), "sty_beats_catalog"), 1);
        QCOMPARE(countRows(world.database(), "cleared_builtin_favorites"), 1);
    }

    void importsInstrumentFiles() {
        CatalogFixture world;
        const QString organ = CatalogFixture::writeFile(world.root() + "/lib/Organ.sf2", 3000);
        const QString upper = CatalogFixture::writeFile(world.root() + "/lib/PIANO.SFZ");
        const QString wav = CatalogFixture::writeFile(world.root() + "/lib/Organ.wav");
        const QString fifo = world.root() + "/lib/pipe.sf2";
        QCOMPARE(mkfifo(fifo.toUtf8().constData(), 0600), 0);
        QDir().mkpath(world.root() + "/lib/folder.sfz");

        ProjectManager manager(world.locations());
        const int builtins = manager.presetCount();
        QString message;
        const QString missing = world.root() + "/lib/Nothing.sf2";
        for (const QString& notAFile : {missing, fifo, world.root() + "/lib/folder.sfz"}) {
            QVERIFY(!manager.importInstrumentFile(notAFile, &message));
            QCOMPARE(message, QStringLiteral("File does not exist: %1").arg(notAFile));
        }
        QVERIFY(!manager.importInstrumentFile(wav, &message));
        QCOMPARE(message,
                 QStringLiteral("Unsupported format. Please select an .sf2 or .sfz instrument file."));
        QCOMPARE(manager.presetCount(), builtins);
        QCOMPARE(countRows(world.database(), "imported_files"), 0);

        InstrumentPreset imported;
        QVERIFY(manager.importInstrumentFile(world.root() + "/lib/../lib/Organ.sf2", &message, &imported));
        QCOMPARE(message, QStringLiteral("Imported instrument: Organ.sf2"));
        QCOMPARE(imported.id, QStringLiteral("user_Organ"));
        QCOMPARE(imported.name, QStringLiteral("Organ (User Library)"));
        QCOMPARE(imported.subcategory, QStringLiteral("SF2 Library"));
        QCOMPARE(imported.manufacturerStyle, QStringLiteral("Imported Custom Instrument"));
        QCOMPARE(imported.licenseInfo, QStringLiteral("User Imported"));
        QCOMPARE(imported.filePath, organ);
        QCOMPARE(imported.sizeBytes, 3000);
        QVERIFY(!imported.missingFile);
        QVERIFY(manager.importInstrumentFile(organ, &message));
        QCOMPARE(countRows(world.database(), "imported_files"), 1);
        QCOMPARE(manager.presetCount(), builtins + 1);

        QVERIFY(manager.importInstrumentFile(upper, &message, &imported));
        QCOMPARE(imported.engineType, 0);
        QCOMPARE(idsStartingWith(manager, "user_"), QStringList({"user_Organ", "user_PIANO"}));

        // A file that is gone stays listed and is marked.
        QVERIFY(QFile::remove(organ));
        ProjectManager later(world.locations());
        QCOMPARE(idsStartingWith(later, "user_"), QStringList({"user_Organ", "user_PIANO"}));
        QVERIFY(presetIn(later, "user_Organ").missingFile);
        QCOMPARE(presetIn(later, "user_Organ").sizeBytes, 0);
        QVERIFY(!presetIn(later, "user_PIANO").missingFile);
        const QVariantMap map = later.presetsAsVariantList({}, "Organ (User", false).value(0).toMap();
        QCOMPARE(map.value("missingFile").toBool(), true);
        QCOMPARE(map.value("sizeMB").toString(), QStringLiteral("0.0"));
    }

    // A file found in a scanned folder and then imported is listed once.
    void importedFileFoundInScannedFolderIsListedOnce() {
        CatalogFixture world;
        const QString download = CatalogFixture::writeFile(world.home() + "/Downloads/Harp.sf2");
        ProjectManager manager(world.locations());
        QCOMPARE(idsStartingWith(manager, "auto_"), QStringList({"auto_Harp"}));
        QVERIFY(manager.importInstrumentFile(download));
        QCOMPARE(idsStartingWith(manager, "auto_"), QStringList());
        QCOMPARE(idsStartingWith(manager, "user_"), QStringList({"user_Harp"}));
    }

    void searchesByTextCategoryAndFavourites() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        QFile big(CatalogFixture::writeFile(world.home() + "/Music/Big.sf2"));
        QVERIFY(big.resize(10485760));
        ProjectManager manager(world.locations());
        const QStringList all = idsOf(manager.presets());

        QCOMPARE(idsOf(manager.presetsAsVariantList({}, {}, false)), all);
        QCOMPARE(idsOf(manager.presetsAsVariantList("all", "   ", false)), all);
        QCOMPARE(idsOf(manager.presetsAsVariantList("ALL", {}, false)), all);

        // Name, category, subcategory and style all count, in any case.
        QCOMPARE(idsOf(manager.presetsAsVariantList({}, "  ORGAN ", false)),
                 QStringList({"gm_drawbar_organ", "gm_perc_organ", "gm_rock_organ", "gm_church_organ",
                              "gm_reed_organ", "gm_harmonica", "gm_bandoneon", "synth_gospel_organ"}));
        QCOMPARE(idsOf(manager.presetsAsVariantList({}, "kwaya satb", false)),
                 QStringList({"gm_satb_choir_oohs"}));
        QCOMPARE(idsOf(manager.presetsAsVariantList({}, "moog", false)),
                 QStringList({"gm_saw_lead", "gm_synth_bass1", "synth_sub_bass"}));
        QCOMPARE(idsOf(manager.presetsAsVariantList({}, "no such sound", false)), QStringList());

        // The category must match exactly.
        const QStringList basses = idsOf(manager.presetsAsVariantList("Synthesizers", "bass", false));
        QCOMPARE(basses, QStringList({"gm_synth_bass1", "gm_finger_bass", "gm_picked_bass",
                                      "gm_fretless_bass", "gm_slap_bass1", "synth_sub_bass"}));
        QCOMPARE(idsOf(manager.presetsAsVariantList("synthesizers", {}, false)), QStringList());
        QCOMPARE(manager.presetsAsVariantList("Synthesizers", {}, false).size(), 13);
        QCOMPARE(idsOf(manager.presetsAsVariantList("Synthesizers", "bass", true)),
                 QStringList({"gm_synth_bass1", "gm_finger_bass", "gm_picked_bass", "gm_slap_bass1"}));
        QCOMPARE(manager.presetsAsVariantList({}, {}, true).size(), 29);

        const QVariantMap organ = manager.presetsAsVariantList({}, "Cathedral Pipe", false).value(0).toMap();
        QCOMPARE(organ.keys(), QStringList({"category", "engineLabel", "engineType", "filePath", "id",
                                            "isFavorite", "licenseInfo", "manufacturerStyle", "missingFile",
                                            "name", "sizeMB", "subcategory"}));
        QCOMPARE(organ.value("engineLabel").toString(), QStringLiteral("SF2 SoundFont"));
        QCOMPARE(organ.value("engineType").toInt(), 1);
        QCOMPARE(organ.value("isFavorite").toBool(), true);
        QCOMPARE(organ.value("sizeMB").toString(), QStringLiteral("0.0"));
        QCOMPARE(
            manager.presetsAsVariantList({}, "Big (Auto", false).value(0).toMap().value("sizeMB").toString(),
            QStringLiteral("10.0"));
        QCOMPARE(manager.presetsAsVariantList({}, "Montage Warm Worship", false)
                     .value(0)
                     .toMap()
                     .value("engineLabel")
                     .toString(),
                 QStringLiteral("DSP Synth/Model"));
    }

    void looksPresetsUp_data() {
        QTest::addColumn<bool>("withFont");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("found");
        QTest::newRow("plain") << true << "gm_trumpet"
                               << "gm_trumpet";
        QTest::newRow("kwaya_organ") << true << "kwaya_organ"
                                     << "gm_church_organ";
        QTest::newRow("cathedral_organ") << true << "cathedral_organ"
                                         << "gm_church_organ";
        QTest::newRow("warm_worship_pad") << true << "warm_worship_pad"
                                          << "gm_warm_pad";
        QTest::newRow("symphonic_strings") << true << "symphonic_strings"
                                           << "gm_string_ensemble";
        QTest::newRow("gospel_b3_organ") << true << "gospel_b3_organ"
                                         << "gm_perc_organ";
        QTest::newRow("vintage_ep_rhodes") << true << "vintage_ep_rhodes"
                                           << "gm_rhodes_ep";
        QTest::newRow("kwaya_harpsichord") << true << "kwaya_harpsichord"
                                           << "gm_harpsichord";
        QTest::newRow("missing grand") << true << "concert_grand_c5"
                                       << "gm_acoustic_grand";
        QTest::newRow("missing grand, no font") << false << "sfz_salamander_c5"
                                                << "synth_worship_pad";
        QTest::newRow("unknown") << true << "nothing_like_it"
                                 << "gm_acoustic_grand";
        QTest::newRow("unknown, no font") << false << "gm_trumpet"
                                          << "synth_worship_pad";
        QTest::newRow("case matters") << true << "GM_TRUMPET"
                                      << "gm_acoustic_grand";
    }
    void looksPresetsUp() {
        QFETCH(bool, withFont);
        QFETCH(QString, asked);
        QFETCH(QString, found);
        CatalogFixture world;
        if (withFont) CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        ProjectManager manager(world.locations());
        const auto preset = manager.findPresetById(asked);
        QVERIFY(preset);
        QCOMPARE(preset->id, found);
    }

    // Same-named files in different folders each get an id of their own, and keep
    // it from run to run.
    void sameNamedFilesGetUniqueStableIds() {
        CatalogFixture world;
        const QString a = CatalogFixture::writeFile(world.home() + "/Music/A/Piano.sfz");
        const QString b = CatalogFixture::writeFile(world.home() + "/Music/B/Piano.sfz");
        const QString download = CatalogFixture::writeFile(world.home() + "/Downloads/Piano.sf2");
        const QString importedA = CatalogFixture::writeFile(world.root() + "/y/Piano.sfz");
        const QString importedB = CatalogFixture::writeFile(world.root() + "/x/Piano.sfz");

        QString idOfB;
        QString idOfImportedB;
        {
            ProjectManager manager(world.locations());
            QVERIFY(manager.importInstrumentFile(importedA));
            QVERIFY(manager.importInstrumentFile(importedB));
            const QStringList autos = idsStartingWith(manager, "auto_");
            const QStringList users = idsStartingWith(manager, "user_");
            QCOMPARE(autos.size(), 3);
            QCOMPARE(users.size(), 2);
            QCOMPARE(autos.first(), QStringLiteral("auto_Piano"));
            QCOMPARE(users.first(), QStringLiteral("user_Piano"));
            QCOMPARE(QSet<QString>(autos.begin(), autos.end()).size(), 3);
            const QRegularExpression tagged("^(auto|user)_Piano_[0-9a-f]{8}$");
            QVERIFY(tagged.match(autos.at(1)).hasMatch());
            QVERIFY(tagged.match(autos.at(2)).hasMatch());
            QVERIFY(tagged.match(users.at(1)).hasMatch());
            QCOMPARE(presetIn(manager, "auto_Piano").filePath, a);
            QCOMPARE(presetIn(manager, autos.at(1)).filePath, b);
            QCOMPARE(presetIn(manager, autos.at(2)).filePath, download);
            QCOMPARE(presetIn(manager, "user_Piano").filePath, importedA);
            idOfB = autos.at(1);
            idOfImportedB = users.at(1);
            QVERIFY(manager.toggleFavorite(idOfB));
            QVERIFY(manager.toggleFavorite(idOfImportedB));
        }
        // A new same-named file elsewhere changes nobody's id.
        CatalogFixture::writeFile(world.home() + "/Music/C/Piano.sfz");
        ProjectManager manager(world.locations());
        QCOMPARE(presetIn(manager, idOfB).filePath, b);
        QVERIFY(presetIn(manager, idOfB).isFavorite);
        QVERIFY(!presetIn(manager, "auto_Piano").isFavorite);
        QCOMPARE(presetIn(manager, idOfImportedB).filePath, importedB);
        QVERIFY(presetIn(manager, idOfImportedB).isFavorite);
        QVERIFY(!presetIn(manager, "user_Piano").isFavorite);
        const QStringList ids = idsOf(manager.presets());
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
    }

    // The standard locations follow HOME, so tests can move them.
    void standardLocationsFollowHomeAndCanBeReplaced() {
        const QString home = test::usePrivateHome();
        const CatalogLocations standard = CatalogLocations::standard();
        QCOMPARE(standard.home, home);
        QCOMPARE(standard.scanFolders.mid(0, 2), QStringList({home + "/Music", home + "/Downloads"}));
        QVERIFY(standard.scanFolders.contains("/usr/share/sounds/sf2"));
        QVERIFY(standard.scanFolders.contains("/usr/share/soundfonts"));
        QCOMPARE(standard.drumKitFolders.first(), home + "/.lv2/avldrums.lv2");

        CatalogFixture world;
        CatalogLocations::setStandard(world.locations());
        {
            ProjectManager manager;
            QCOMPARE(manager.dataDirectory(), world.data());
            QCOMPARE(manager.databaseFilePath(), world.data() + "/catalog.db");
            QCOMPARE(manager.presetCount(), 8);
        }
        CatalogLocations::clearStandard();
        QCOMPARE(CatalogLocations::standard().home, home);
    }
};

QTEST_GUILESS_MAIN(PresetCatalogTest)
#include "tst_preset_catalog.moc"
