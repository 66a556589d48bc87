// The instrument catalogue: what it lists, finds and keeps, and damaged or fake inputs.

#include "CatalogFixture.h"
#include "storage/ProjectManager.h"
#include "support/TestEnvironment.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace tmb;
using tmb::test::CatalogFixture;

namespace {

// The first value `script` yields on the database (null: none; "error": failed).
QString runSql(const QString& databasePath, const QByteArray& script, bool create = false) {
    sqlite3* db = nullptr;
    QString first;
    const auto keepFirst = [](void* out, int columns, char** values, char**) {
        auto* text = static_cast<QString*>(out);
        if (text->isNull() && columns > 0) *text = QString::fromUtf8(values[0] ? values[0] : "");
        return 0;
    };
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    int status = sqlite3_open_v2(databasePath.toUtf8().constData(), &db, flags, nullptr);
    if (status == SQLITE_OK) status = sqlite3_exec(db, script.constData(), keepFirst, &first, nullptr);
    sqlite3_close(db);
    return status == SQLITE_OK ? first : QStringLiteral("error");
}

// The ids in `table`, sorted and comma-separated.
QString idsIn(const QString& databasePath, const char* table) {
    return runSql(databasePath, QByteArray("SELECT group_concat(preset_id) FROM (SELECT preset_id FROM ") +
                                    table + " ORDER BY 1)");
}

QStringList idsStartingWith(const ProjectManager& manager, const QString& prefix = {}) {
    QStringList ids;
    for (const InstrumentPreset& preset : manager.presets())
        if (preset.id.startsWith(prefix)) ids.append(preset.id);
    return ids;
}

// The ids the preset browser shows for this choice.
QStringList browse(const ProjectManager& manager, const QString& category, const QString& text,
                   bool favoritesOnly = false) {
    QStringList ids;
    for (const QVariant& map : manager.presetsAsVariantList(category, text, favoritesOnly))
        ids.append(map.toMap().value("id").toString());
    return ids;
}

// What a preset plays and where from, to compare in one go.
QStringList describe(const InstrumentPreset& p) {
    return QStringList{p.name, p.subcategory, QString::number(p.engineType), QString::number(p.program)} +
           QStringList{p.filePath, QString::number(p.sizeBytes), p.missingFile ? "missing" : "present"};
}

InstrumentPreset presetIn(const ProjectManager& manager, const QString& id) {
    const auto preset = manager.presetWithId(id);
    if (!preset) qFatal("no preset %s", qPrintable(id));
    return *preset;
}

} // namespace

class PresetCatalogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    // The order and contents of the catalogue, and what the preset browser shows of it.
    void listsAndSearchesLibrariesGeneralMidiSynthsAndFoundFiles() {
        CatalogFixture world;
        const QString font = world.file("soundfonts/FluidR3_GM.sf2", 4096);
        QFile::link(font, world.path("soundfonts/default-GM.sf2")); // Debian's alternative link
        const QString smallFont = world.file("soundfonts/TimGM6mb.sf2", 300);
        world.file("soundfonts/Red_Zeppelin_4_LV2.sf2"); // an AVL drum kit
        world.file("home/Music/FluidR3_GM.sf2");         // a stray copy
        const QString ep = world.file("home/Music/EP.SF2", 2000);
        const QString upright = world.file("home/Music/Pianos/Upright.sfz", 100);
        world.file("home/Music/notes.txt");
        world.file("home/Music/.hidden/Secret.sfz");
        const QString strings = world.file("home/Downloads/Strings.sf2");
        // Not listed either: a second link to a listed file, a broken link, a folder link back to
        // its folder (not followed), a pipe and a folder named like an instrument.
        const QString music = world.path("home/Music");
        QVERIFY(QFile::link(ep, music + "/alias.sf2"));
        QVERIFY(QFile::link(music + "/nowhere.sf2", music + "/broken.sf2"));
        QVERIFY(QFile::link(music, music + "/loop"));
        QCOMPARE(mkfifo(QString(music + "/pipe.sf2").toUtf8().constData(), 0600), 0);
        QDir().mkpath(music + "/folder.sfz");
        CatalogLocations locations = world.locations();
        // The concert grand sits in the music folder: listed once, as the library.
        CatalogFixture::writeFile(locations.concertGrandSfz, 10);

        ProjectManager manager(locations);
        const QStringList ids = idsStartingWith(manager);
        QCOMPARE(ids.size(), 1 + 58 + 8 + 4);
        // The library, the GM table, the synths, then found files.
        QCOMPARE(ids.first() + ' ' + ids.at(1) + ' ' + ids.at(58) + ' ' + ids.at(59) + ' ' + ids.at(66),
                 QStringLiteral(
                     "sfz_salamander_c5 gm_acoustic_grand gm_koto synth_worship_pad synth_kalimba_model"));
        QCOMPARE(ids.mid(67), QStringList({"auto_EP", "auto_Upright", "auto_Strings", "auto_TimGM6mb"}));
        const InstrumentPreset grand = presetIn(manager, "sfz_salamander_c5"); // with a sound of its own
        QVERIFY(grand.engineType == 0 && grand.brightness == 0.58f && grand.reverbAmount == 0.28f);
        // A General MIDI program plays its program of the font found, with its sound.
        const InstrumentPreset organ = presetIn(manager, "gm_church_organ");
        QCOMPARE(describe(organ),
                 QStringList({"Cathedral Pipe Organ", "Pipe Organ", "1", "19", font, "4096", "present"}));
        QCOMPARE(organ.reverbAmount, 0.55f);
        // Found files: name, engine and library from the suffix in any case.
        QCOMPARE(describe(presetIn(manager, "auto_EP")),
                 QStringList({"EP (Auto-Discovered SF2)", "SF2 Library", "1", "0", ep, "2000", "present"}));
        QCOMPARE(describe(presetIn(manager, "auto_Upright")),
                 QStringList(
                     {"Upright (Auto-Discovered SFZ)", "SFZ Library", "0", "0", upright, "100", "present"}));
        QCOMPARE(presetIn(manager, "auto_Strings").filePath, strings);
        QCOMPARE(presetIn(manager, "auto_TimGM6mb").filePath, smallFont);

        QCOMPARE(browse(manager, "ALL", "   "), ids);
        // Name, category, subcategory and style all count, in any case.
        QCOMPARE(browse(manager, {}, "  ORGAN "),
                 QStringList({"gm_drawbar_organ", "gm_perc_organ", "gm_rock_organ", "gm_church_organ",
                              "gm_reed_organ", "gm_harmonica", "gm_bandoneon", "synth_gospel_organ"}));
        QCOMPARE(browse(manager, {}, "zero-setup"), ids.mid(67));
        // The category must match exactly.
        QCOMPARE(browse(manager, "synthesizers", {}), QStringList());
        QCOMPARE(browse(manager, "Synthesizers", "bass", true),
                 QStringList({"gm_synth_bass1", "gm_finger_bass", "gm_picked_bass", "gm_slap_bass1"}));
        QCOMPARE(browse(manager, {}, {}, true).size(), 29 + 1); // the GM table's and the grand library
        // The standard locations (the controller's, moved by the app tests' world) scan these first.
        const QString home = test::usePrivateHome();
        QCOMPARE(CatalogLocations::standard().scanFolders.mid(0, 2),
                 QStringList({home + "/Music", home + "/Downloads"}));
    }

    // Where the GM programs point; legacy ids, a missing grand and unknown ids by lookup.
    void findsTheGeneralMidiFont_data() {
        QTest::addColumn<QStringList>("files"); // relative to the fixture root
        QTest::addColumn<QString>("expected");  // empty: no GM programs
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("FluidR3 first")
            << QStringList{"a/default.sf2", "b/FluidR3_GM.sf2"} << "b/FluidR3_GM.sf2";
        QTest::newRow("default.sf2") << QStringList{"b/default.sf2"} << "b/default.sf2";
        QTest::newRow("Debian default-GM") << QStringList{"b/default-GM.sf2"} << "b/default-GM.sf2";
        QTest::newRow("folder order")
            << QStringList{"a/FluidR3_GM.sf2", "b/FluidR3_GM.sf2"} << "a/FluidR3_GM.sf2";
    }
    void findsTheGeneralMidiFont() {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        CatalogFixture world;
        for (const QString& file : files)
            world.file(file);
        CatalogLocations locations = world.locations();
        locations.soundFontFolders = {world.path("a"), world.path("b")};
        locations.scanFolders = locations.soundFontFolders;

        ProjectManager manager(locations);
        const auto first = manager.firstPreset();
        QVERIFY(first);
        const std::pair<const char*, const char*> lookups[] = {{"gm_trumpet", "gm_trumpet"},
                                                               {"kwaya_organ", "gm_church_organ"},
                                                               {"concert_grand_c5", "gm_acoustic_grand"},
                                                               {"sfz_salamander_c5", "gm_acoustic_grand"},
                                                               {"nothing_like_it", "gm_acoustic_grand"},
                                                               {"GM_TRUMPET", "gm_acoustic_grand"}};
        for (const auto& [asked, found] : lookups) {
            const auto preset = manager.findPresetById(asked);
            QVERIFY2(preset && preset->id == (expected.isEmpty() ? first->id : found), asked);
        }
        if (expected.isEmpty()) {
            QCOMPARE(first->id, QStringLiteral("synth_worship_pad"));
            QCOMPARE(manager.presetCount(), 8);
            return;
        }
        QCOMPARE(first->id, QStringLiteral("gm_acoustic_grand"));
        QCOMPARE(first->filePath, world.path(expected));
        QCOMPARE(idsStartingWith(manager, "auto_"), QStringList()); // GM fonts are not listed again
    }

    // Marks set and cleared survive the next starts on a database of an earlier version; an
    // unwritable folder or a damaged database is left alone, and the session keeps its marks in memory.
    void favouritesPersistOrStayInMemory_data() {
        QTest::addColumn<QByteArray>("contents"); // of "catalog.db"
        QTest::newRow("earlier version") << QByteArray("legacy");
        QTest::newRow("unwritable folder") << QByteArray();
        QTest::newRow("folder") << QByteArray("folder");
        QTest::newRow("bad header") << QByteArray("SQLite format 3").append(4096, '\xff');
    }
    void favouritesPersistOrStayInMemory() {
        QFETCH(QByteArray, contents);
        const bool legacy = contents == "legacy";
        CatalogFixture world;
        world.file("soundfonts/FluidR3_GM.sf2");
        world.file("home/Music/Choir.sfz");
        const QString mine = world.file("elsewhere/Mine.sf2");
        const QString old = world.file("old/Old.sfz");
        CatalogLocations locations = world.locations();
        QFile file(world.database());
        const QString earlierTables = QStringLiteral(R"(CREATE TABLE favorites (preset_id TEXT PRIMARY KEY);
            CREATE TABLE imported_files (file_path TEXT PRIMARY KEY, added_at TEXT);
            CREATE TABLE sty_beats_catalog (file_name TEXT PRIMARY KEY, style_name TEXT NOT NULL,
                                            genre_family TEXT NOT NULL, added_at TEXT NOT NULL);
            INSERT INTO favorites VALUES ('gm_koto'), (NULL);
            INSERT INTO imported_files VALUES ('%1', '2024-01-01T00:00:00Z');
            INSERT INTO sty_beats_catalog VALUES ('a.sty', 'A', 'Pop', '2024-01-01');)");
        if (legacy)
            QCOMPARE(runSql(world.database(), earlierTables.arg(old).toUtf8(), true), QString());
        else if (contents.isEmpty()) // a folder below a plain file can never be created, even by root
            locations.dataDirectory = world.file("blocker") + "/data";
        else if (contents == "folder")
            QDir().mkpath(world.database());
        else
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        file.close();
        {
            ProjectManager manager(locations);
            QCOMPARE(manager.isDatabaseOpen(), legacy);
            QCOMPARE(presetIn(manager, "gm_koto").isFavorite, legacy);
            QCOMPARE(idsStartingWith(manager, "user_"), legacy ? QStringList{"user_Old"} : QStringList());
            if (legacy) QCOMPARE(presetIn(manager, "user_Old").filePath, old);
            QVERIFY(manager.importInstrumentFile(mine));
            QCOMPARE(manager.toggleFavorite("gm_acoustic_grand"), false); // a table favourite cleared
            QCOMPARE(manager.toggleFavorite("gm_bright_piano"), true);
            QCOMPARE(manager.toggleFavorite("auto_Choir"), true);
            QCOMPARE(manager.toggleFavorite("user_Mine"), true);
            QCOMPARE(manager.toggleFavorite("no_such_preset"), false);
            // The rebuild after another import keeps the marks made in this session.
            QVERIFY(manager.importInstrumentFile(mine));
            QVERIFY(presetIn(manager, "gm_bright_piano").isFavorite &&
                    presetIn(manager, "user_Mine").isFavorite);
            QVERIFY(!presetIn(manager, "gm_acoustic_grand").isFavorite);
        }
        if (!legacy) {
            if (contents.isEmpty()) {
                QVERIFY(!QFileInfo::exists(locations.dataDirectory));
            } else if (contents != "folder") {
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readAll(), contents); // kept for whoever wants to rescue it
            }
            return;
        }
        QCOMPARE(idsIn(world.database(), "favorites"),
                 QStringLiteral("auto_Choir,gm_bright_piano,gm_koto,user_Mine"));
        QCOMPARE(idsIn(world.database(), "cleared_builtin_favorites"), QStringLiteral("gm_acoustic_grand"));
        {
            ProjectManager manager(world.locations());
            QVERIFY(!presetIn(manager, "gm_acoustic_grand").isFavorite);
            QVERIFY(presetIn(manager, "auto_Choir").isFavorite && presetIn(manager, "user_Mine").isFavorite);
            QVERIFY(presetIn(manager, "gm_church_organ").isFavorite); // untouched table marks stay
            QCOMPARE(manager.toggleFavorite("gm_acoustic_grand"), true);
            QCOMPARE(manager.toggleFavorite("auto_Choir"), false);
            QCOMPARE(manager.toggleFavorite("gm_church_organ"), false);
        }
        ProjectManager manager(world.locations());
        QVERIFY(presetIn(manager, "gm_acoustic_grand").isFavorite);
        QVERIFY(!presetIn(manager, "gm_church_organ").isFavorite);
        const QStringList favourites = browse(manager, {}, {}, true);
        QVERIFY(favourites.contains("user_Mine") && favourites.contains("gm_koto"));
        QVERIFY(!favourites.contains("auto_Choir"));
        QCOMPARE(favourites.size(), 29 - 1 + 3); // the table's but the organ; the piano, the import, the koto
        QCOMPARE(runSql(world.database(), "SELECT COUNT(*) FROM sty_beats_catalog"), QStringLiteral("1"));
        QCOMPARE(idsIn(world.database(), "cleared_builtin_favorites"), QStringLiteral("gm_church_organ"));
    }

    // Imports: refusals, listed once, a file gone marked; same-named files keep own ids.
    void importsInstrumentFilesWithUniqueStableIds() {
        CatalogFixture world;
        const QString organ = world.file("lib/Organ.sf2", 3000);
        const QString fifo = world.path("lib/pipe.sf2");
        QCOMPARE(mkfifo(fifo.toUtf8().constData(), 0600), 0);
        QDir().mkpath(world.path("lib/folder.sfz"));
        const QString harp = world.file("home/Downloads/Harp.sf2");
        const QString a = world.file("home/Music/A/Piano.sfz");
        const QString b = world.file("home/Music/B/Piano.sfz");
        const QString download = world.file("home/Downloads/Piano.sf2");
        const QString importedA = world.file("y/Piano.sfz");
        const QString importedB = world.file("x/Piano.sfz");
        QString idOfB, idOfImportedB;
        {
            ProjectManager manager(world.locations());
            const int builtins = manager.presetCount();
            QString message;
            for (const QString& notAFile :
                 {world.path("lib/Nothing.sf2"), fifo, world.path("lib/folder.sfz")}) {
                QVERIFY(!manager.importInstrumentFile(notAFile, &message));
                QCOMPARE(message, QStringLiteral("File does not exist: %1").arg(notAFile));
            }
            QVERIFY(!manager.importInstrumentFile(world.file("lib/Organ.wav"), &message));
            QVERIFY(message.startsWith("Unsupported format.") && manager.presetCount() == builtins);

            InstrumentPreset imported;
            QVERIFY(manager.importInstrumentFile(world.path("lib/../lib/Organ.sf2"), &message, &imported));
            QVERIFY(message == "Imported instrument: Organ.sf2" && imported.id == "user_Organ");
            QCOMPARE(describe(imported), QStringList({"Organ (User Library)", "SF2 Library", "1", "0", organ,
                                                      "3000", "present"}));
            QVERIFY(manager.importInstrumentFile(organ, &message) && manager.presetCount() == builtins + 1);
            QVERIFY(manager.importInstrumentFile(world.file("lib/PIANO.SFZ"), &message, &imported));
            QCOMPARE(imported.engineType, 0);
            // A file found in a scanned folder and then imported is listed once, as the import.
            QVERIFY(idsStartingWith(manager).contains("auto_Harp"));
            QVERIFY(manager.importInstrumentFile(harp));
            QVERIFY(!idsStartingWith(manager).contains("auto_Harp"));

            QVERIFY(manager.importInstrumentFile(importedA) && manager.importInstrumentFile(importedB));
            const QStringList autos = idsStartingWith(manager, "auto_Piano");
            const QStringList users = idsStartingWith(manager, "user_Piano");
            const QRegularExpression tagged("^(auto|user)_Piano_[0-9a-f]{8}$");
            QVERIFY(autos.size() == 3 && users.size() == 2 && autos.at(1) != autos.at(2));
            QVERIFY(autos.first() == "auto_Piano" && users.first() == "user_Piano");
            for (const QString& id : {autos.at(1), autos.at(2), users.at(1)})
                QVERIFY2(tagged.match(id).hasMatch(), qPrintable(id));
            QCOMPARE(presetIn(manager, "auto_Piano").filePath, a);
            QCOMPARE(presetIn(manager, autos.at(1)).filePath, b);
            QCOMPARE(presetIn(manager, autos.at(2)).filePath, download);
            QCOMPARE(presetIn(manager, "user_Piano").filePath, importedA);
            idOfB = autos.at(1);
            idOfImportedB = users.at(1);
            QVERIFY(manager.toggleFavorite(idOfB) && manager.toggleFavorite(idOfImportedB));
        }
        // A gone file stays listed and marked; a new same-named file changes no id.
        QVERIFY(QFile::remove(organ));
        world.file("home/Music/C/Piano.sfz");
        ProjectManager later(world.locations());
        QCOMPARE(idsStartingWith(later, "user_"),
                 QStringList({"user_Organ", "user_PIANO", "user_Harp", "user_Piano", idOfImportedB}));
        QCOMPARE(describe(presetIn(later, "user_Organ")),
                 QStringList({"Organ (User Library)", "SF2 Library", "1", "0", organ, "0", "missing"}));
        QVERIFY(!presetIn(later, "user_PIANO").missingFile);
        QVERIFY(
            later.presetsAsVariantList({}, "Organ (User", false).value(0).toMap()["missingFile"].toBool());
        QCOMPARE(presetIn(later, idOfB).filePath, b);
        QCOMPARE(presetIn(later, idOfImportedB).filePath, importedB);
        QCOMPARE(browse(later, {}, {}, true), QStringList({idOfB, idOfImportedB}));
        const QStringList ids = idsStartingWith(later);
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
    }
};

QTEST_GUILESS_MAIN(PresetCatalogTest)
#include "tst_preset_catalog.moc"
