// The catalogue under adverse conditions: the program killed in the middle of
// imports, a data folder that cannot be written, a damaged "catalog.db", folders
// full of things that only look like instruments. In every case the built-in
// instruments are there and the database, when it opens, is sound.

#include "CatalogFixture.h"
#include "app/WorkstationController.h"
#include "storage/ProjectManager.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace tmb;
using tmb::test::CatalogFixture;
using tmb::test::countRows;

namespace {

const char childRootVariable[] = "TMB_CATALOG_IMPORT_CHILD_ROOT";

CatalogLocations locationsUnder(const QString& root) {
    CatalogLocations locations = CatalogLocations::forHome(root + "/home");
    locations.dataDirectory = root + "/data";
    locations.soundFontFolders = {root + "/soundfonts"};
    locations.scanFolders = {root + "/home/Music", root + "/soundfonts"};
    locations.drumKitFolders = {};
    return locations;
}

// The child of killDuringImportsLeavesASoundDatabase: imports new files and flips
// favourites without end, printing a line after each, until it is killed.
int runImportChild(const QString& root) {
    ProjectManager manager(locationsUnder(root));
    if (!manager.isDatabaseOpen()) return 2;
    for (int n = 0;; ++n) {
        const QString file = CatalogFixture::writeFile(root + QStringLiteral("/imports/Sound%1.sfz").arg(n));
        manager.importInstrumentFile(file);
        manager.toggleFavorite(QStringLiteral("gm_church_organ"));
        manager.toggleFavorite(QStringLiteral("user_Sound%1").arg(n));
        fprintf(stdout, "%d\n", n);
        fflush(stdout);
    }
}

QString integrityCheck(const QString& databasePath) {
    sqlite3* db = nullptr;
    QString result = QStringLiteral("cannot open");
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

void verifyBuiltinsPresent(const ProjectManager& manager, bool withFont) {
    QVERIFY(manager.presetWithId("synth_worship_pad"));
    QCOMPARE(manager.presetWithId("gm_finger_bass").has_value(), withFont);
    QCOMPARE(manager.firstPreset()->id, withFont ? QStringLiteral("gm_acoustic_grand") : "synth_worship_pad");
}

} // namespace

class CatalogReliabilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void killDuringImportsLeavesASoundDatabase() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        // Kill after different numbers of imports so that the kill lands at
        // different points of an import.
        int importsSeen = 0;
        for (int round = 0; round < 6; ++round) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(childRootVariable, world.root());
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForStarted());
            int lines = 0;
            const int wanted = 3 + round * 4;
            while (lines < wanted && child.state() == QProcess::Running) {
                child.waitForReadyRead(5000);
                lines += child.readAll().count('\n');
            }
            QVERIFY2(child.state() == QProcess::Running, "the importing child ended by itself");
            QTest::qWait(round * 3); // land somewhere inside the next import
            child.kill();            // SIGKILL
            QVERIFY(child.waitForFinished());
            importsSeen += lines;

            QCOMPARE(integrityCheck(world.database()), QStringLiteral("ok"));
            ProjectManager manager(locationsUnder(world.root()));
            QVERIFY(manager.isDatabaseOpen());
            const int rows = countRows(world.database(), "imported_files");
            QVERIFY(rows >= importsSeen / (round + 1));
            QCOMPARE(int(std::count_if(manager.presets().begin(), manager.presets().end(),
                                       [](const InstrumentPreset& p) { return p.id.startsWith("user_"); })),
                     rows);
            verifyBuiltinsPresent(manager, true);
        }
    }

    void unwritableDataFolderKeepsEverythingInMemory() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        // A folder below a plain file can never be created, even by root.
        const QString blocker = CatalogFixture::writeFile(world.root() + "/blocker");
        CatalogLocations locations = world.locations();
        locations.dataDirectory = blocker + "/data";
        const QString mine = CatalogFixture::writeFile(world.root() + "/lib/Mine.sfz");

        ProjectManager manager(locations);
        QVERIFY(!manager.isDatabaseOpen());
        verifyBuiltinsPresent(manager, true);
        QCOMPARE(manager.toggleFavorite("gm_koto"), true);
        QCOMPARE(manager.toggleFavorite("gm_church_organ"), false);
        QString message;
        QVERIFY(manager.importInstrumentFile(mine, &message));
        QCOMPARE(message, QStringLiteral("Imported instrument: Mine.sfz"));
        QCOMPARE(manager.toggleFavorite("user_Mine"), true);
        // The rebuild after another import keeps the marks made in this session.
        QVERIFY(manager.importInstrumentFile(mine));
        QVERIFY(manager.presetWithId("gm_koto")->isFavorite);
        QVERIFY(!manager.presetWithId("gm_church_organ")->isFavorite);
        QVERIFY(manager.presetWithId("user_Mine")->isFavorite);
        QVERIFY(!QFileInfo::exists(locations.dataDirectory));
    }

    void damagedDatabaseIsLeftAloneAndIgnored_data() {
        QTest::addColumn<QByteArray>("contents"); // empty: a folder in its place
        QByteArray garbage(8192, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919) % 251);
        QTest::newRow("garbage") << garbage;
        QTest::newRow("text") << QByteArray("not a database\n");
        QTest::newRow("bad header") << QByteArray("SQLite format 3").append(4096, '\xff');
        QTest::newRow("folder") << QByteArray();
    }
    void damagedDatabaseIsLeftAloneAndIgnored() {
        QFETCH(QByteArray, contents);
        CatalogFixture world;
        if (contents.isEmpty()) {
            QDir().mkpath(world.database());
        } else {
            QFile file(world.database());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        {
            ProjectManager manager(world.locations());
            QVERIFY(!manager.isDatabaseOpen());
            verifyBuiltinsPresent(manager, false);
            QCOMPARE(manager.toggleFavorite("synth_fm_ep"), true);
            QVERIFY(manager.presetWithId("synth_fm_ep")->isFavorite);
        }
        if (!contents.isEmpty()) {
            QFile file(world.database());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), contents); // kept for whoever wants to rescue it
        }
    }

    // A database cut short (a disk that filled up, a bad copy) must not crash the
    // start: whatever can be read is used.
    void truncatedDatabaseDoesNotStopTheStart() {
        CatalogFixture world;
        { ProjectManager manager(world.locations()); }
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(world.database().toUtf8().constData(), &db), SQLITE_OK);
        QByteArray script = "BEGIN;";
        for (int n = 0; n < 400; ++n)
            script += "INSERT INTO imported_files VALUES ('/lib/" + QByteArray::number(n) +
                      "/A-rather-long-instrument-name.sfz', '2024-01-01T00:00:00Z');";
        script += "COMMIT;";
        QCOMPARE(sqlite3_exec(db, script.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        QFile file(world.database());
        QVERIFY(file.size() > 3 * 4096);
        QVERIFY(file.resize(2 * 4096));
        ProjectManager manager(world.locations());
        verifyBuiltinsPresent(manager, false);
    }

    void foldersOfGarbageDoNotStopTheStart() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.soundFonts() + "/FluidR3_GM.sf2");
        const QString music = world.home() + "/Music";
        QByteArray noise(1000, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 31 + 7) % 256);
        for (const char* name : {"noise.sf2", "noise.sfz", "empty.sfz", "deep/er/still/junk.SF2"}) {
            QDir().mkpath(QFileInfo(music + "/" + name).absolutePath());
            QFile file(music + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (QByteArray(name) != "empty.sfz") file.write(noise);
        }
        QDir().mkpath(music + "/folder.sfz");
        QCOMPARE(mkfifo(QString(music + "/pipe.sf2").toUtf8().constData(), 0600), 0);
        QVERIFY(QFile::link(music + "/nowhere.sf2", music + "/broken.sf2"));
        QVERIFY(QFile::link(music, music + "/loop")); // a folder link back to itself
        QVERIFY(QFile::link(music + "/noise.sf2", music + "/alias.sf2"));
        // A name that is not valid UTF-8.
        const QByteArray rawName = QFile::encodeName(music) + "/\xff\xfe-bad.sfz";
        FILE* handle = fopen(rawName.constData(), "w");
        QVERIFY(handle);
        fclose(handle);
        QString deep = music;
        for (int level = 0; level < 60; ++level)
            deep += "/d";
        CatalogFixture::writeFile(deep + "/Deep.sfz");

        ProjectManager manager(world.locations());
        verifyBuiltinsPresent(manager, true);
        QStringList autos;
        int noiseFontEntries = 0;
        for (const InstrumentPreset& preset : manager.presets()) {
            if (!preset.id.startsWith("auto_")) continue;
            autos.append(preset.id);
            noiseFontEntries +=
                preset.filePath.endsWith("/noise.sf2") || preset.filePath.endsWith("/alias.sf2");
        }
        ::unlink(rawName.constData()); // the temporary folder cannot name it
        // Regular files with an instrument suffix are listed (they fail when
        // played, not when listed); the pipe, the folder, the broken link, the
        // second name of one file and a name that cannot be opened again are not;
        // the walk does not follow the loop.
        autos.sort();
        QCOMPARE(autos, QStringList({"auto_Deep", "auto_alias", "auto_empty", "auto_junk", "auto_noise"}));
        QCOMPARE(noiseFontEntries, 1);
    }

    // The whole controller starts on a damaged database and a garbage folder, with
    // the built-in instruments in its catalogue.
    void controllerStartsOnDamagedCatalogue() {
        CatalogFixture world;
        CatalogFixture::writeFile(world.database(), 5000);
        CatalogFixture::writeFile(world.home() + "/Music/noise.sf2", 100);
        CatalogLocations::setStandard(world.locations());
        {
            WorkstationController controller;
            verifyBuiltinsPresent(controller.projectManager(), false);
            QVERIFY(!controller.projectManager().isDatabaseOpen());
        }
        CatalogLocations::clearStandard();
    }
};

int main(int argc, char** argv) {
    const QByteArray childRoot = qgetenv(childRootVariable);
    if (!childRoot.isEmpty()) {
        QCoreApplication app(argc, argv);
        return runImportChild(QString::fromUtf8(childRoot));
    }
    QCoreApplication app(argc, argv);
    CatalogReliabilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_catalog_reliability.moc"
