// The style library: samples, imports of files, folders, zip archives (the real unzip) and USB drives.

#include "rhythm/StyleFileReader.h"
#include "rhythm/StyleFileWriter.h"
#include "rhythm/StyleLibrary.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray styleBytes(int builtin) {
    static const std::vector<StylePattern> styles = builtinStyles();
    return buildYamahaSff1StyBytes(styles[size_t(builtin)]);
}

QString put(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList sampleNames() {
    QStringList names;
    for (const StyleLibrary::Sample& sample : StyleLibrary::samples)
        names << QString::fromLatin1(sample.fileName);
    return names;
}

// Folders of its own; start() is one run of the program on them.
struct World {
    QTemporaryDir root;
    std::unique_ptr<BeatSequencer> sequencer;
    std::unique_ptr<ProjectManager> projects;
    std::unique_ptr<StyleLibrary> library;
    StyleLibraryOptions options{path(u"User Styles"_s), path(u"media"_s)};

    QString path(const QString& relative) const { return root.filePath(relative); }
    QString user(const QString& name) const { return options.userFolder + u'/' + name; }
    void start() {
        library.reset();
        projects.reset();
        sequencer = std::make_unique<BeatSequencer>();
        sequencer->initBuiltinStyles();
        CatalogLocations locations = CatalogLocations::forHome(path(u"home"_s));
        locations.dataDirectory = path(u"data"_s);
        locations.soundFontFolders = locations.scanFolders = {};
        projects = std::make_unique<ProjectManager>(locations);
        library = std::make_unique<StyleLibrary>(*sequencer, *projects, options);
        library->rebuildAtStartup();
    }
    // Through the sqlite3 command.
    QStringList sql(const QString& statement) const {
        QProcess sqlite;
        sqlite.start(u"sqlite3"_s, {path(u"data/catalog.db"_s), statement});
        sqlite.waitForFinished(10000);
        return QString::fromUtf8(sqlite.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList rows(const char* column = "file_name") const {
        return sql(u"SELECT %1 FROM sty_beats_catalog ORDER BY file_name;"_s.arg(QLatin1String(column)));
    }
    QStringList folder() const {
        return QDir(options.userFolder).entryList(QDir::Files | QDir::System, QDir::Name);
    }
    int indexOf(const QString& fileName) const {
        for (int i = 0; i < int(sequencer->styles().size()); ++i)
            if (QFileInfo(sequencer->styles()[size_t(i)].styFilePath).fileName() == fileName) return i;
        return -1;
    }
};

} // namespace

class StyleLibraryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    // A restart adds nothing; a lost copy comes back from the table, never through a link or outside.
    void startUpWritesSamplesAndRestoresCopies() {
        World world;
        QVERIFY(QDir().mkpath(world.options.userFolder) &&
                QFile::link(world.path(u"outside/hostname"_s), world.user(u"Country_Train.sty"_s)));
        world.start();
        world.start();
        QStringList expected = sampleNames();
        expected.removeOne(u"Country_Train.sty"_s);
        expected.sort();
        QCOMPARE(world.rows(), expected);
        QCOMPARE(world.sequencer->customStyleCount(), 11);
        QVERIFY(!QFile::exists(world.path(u"outside/hostname"_s)));
        QCOMPARE(read(world.user(u"Mugithi_Classic.sty"_s)), styleBytes(0));

        QVERIFY(QFile::remove(world.user(u"Country_Train.sty"_s)));
        QCOMPARE(world.library->importFiles({put(world.path(u"in/My Groove.sty"_s), styleBytes(7)),
                                             put(world.path(u"in/Other.sty"_s), styleBytes(8))}),
                 2);
        QVERIFY(QFile::remove(world.user(u"My Groove.sty"_s)) && QFile::remove(world.user(u"Other.sty"_s)));
        world.sql(
            u"UPDATE sty_beats_catalog SET local_cache_path = '%1' WHERE file_name = 'Other.sty';"_s.arg(
                world.path(u"Other.sty"_s)));
        QDir().mkpath(world.path(u"media/mnt/usb0"_s));
        world.start();
        QCOMPARE(world.rows().size(), 14);
        QCOMPARE(read(world.user(u"My Groove.sty"_s)), styleBytes(7));
        QCOMPARE(read(world.user(u"Country_Train.sty"_s)), styleBytes(12));
        QVERIFY(!QFile::exists(world.path(u"Other.sty"_s)) && !QFile::exists(world.user(u"Other.sty"_s)));
        QCOMPARE(world.library->statusText(), u"💾 SQLite DB: 13 .STY Beats Stored • Flash Disk: %1"_s.arg(
                                                  world.path(u"media/mnt/usb0"_s)));
    }

    // Two files, the same two again, another of the same name, one in the folder by another spelling.
    // Removing an imported style and a sample, then clearing, outlive a restart.
    void importsKeepSameNamedFilesApartAndRemovalsStick() {
        World world;
        world.start();
        const QString pop = put(world.path(u"a/Pop Song.sty"_s), styleBytes(30));
        const QString waltz = put(world.path(u"a/waltz.STY"_s), styleBytes(14));
        QCOMPARE(world.library->importFiles({u"file://"_s + pop, waltz, world.path(u"a/none.sty"_s)}), 2);
        QCOMPARE(world.library->lastImportedIndex(), world.indexOf(u"waltz.STY"_s));
        QCOMPARE(world.library->importFiles({pop, waltz}), 2);
        QCOMPARE(world.sequencer->customStyleCount(), 14);

        const QString other = put(world.path(u"b/Pop Song.sty"_s), styleBytes(31));
        QCOMPARE(
            world.library->importFiles({other, world.path(u"User Styles/../User Styles/Pop Song.sty"_s)}), 2);
        QCOMPARE(read(world.user(u"Pop Song.sty"_s)), styleBytes(30));
        QCOMPARE(read(world.user(u"Pop Song (2).sty"_s)), styleBytes(31));
        QCOMPARE(world.rows("source_path").filter(u"/b/Pop Song.sty"_s).size(), 1);
        QCOMPARE(world.rows().size(), 15);
        QByteArray edge = styleBytes(5); // padded to the size limit: still read, one byte more is not
        edge.resize(maxStyleFileBytes);
        QCOMPARE(world.library->importFiles(
                     {put(world.path(u"c/Edge.sty"_s), edge), put(world.path(u"c/Over.sty"_s), edge + '\0')}),
                 1);

        QVERIFY(!world.library->removeStyle(0)); // built-in
        QVERIFY(world.library->removeStyle(world.indexOf(u"waltz.STY"_s)));
        QVERIFY(world.library->removeStyle(world.indexOf(u"Mugithi_Classic.sty"_s)));
        QVERIFY(QFile::exists(waltz));
        world.start();
        QCOMPARE(world.sequencer->customStyleCount(), 14);
        QVERIFY(!world.rows().contains(u"Mugithi_Classic.sty"_s) && !world.folder().contains(u"waltz.STY"_s));
        world.library->clearAll();
        world.start();
        QCOMPARE(world.sequencer->customStyleCount() + world.rows().size() + world.folder().size(), 0);
    }

    // 4,500 files in nested folders become 4,500 rows, saved in batches of 2,000 (the status line
    // is the last batch's); a missing folder and one without style files say so.
    void folderImport() {
        World world;
        world.start();
        for (int i = 0; i < 4500; ++i)
            put(world.path(u"big/%1/style %2.sty"_s.arg(i % 7).arg(i)),
                "twenty bytes of text " + QByteArray::number(i));
        put(world.path(u"big/readme.txt"_s), "not a style at all, long enough");
        QCOMPARE(world.library->importFolder(world.path(u"big"_s)), 4500);
        QCOMPARE(world.rows().size(), 4512);
        QCOMPARE(world.library->statusText(),
                 u"💾 Saved 500 .STY Beat(s) to Solution DB (catalog.db) • Total in DB: 4512"_s);
        QCOMPARE(world.library->importFolder(world.path(u"nowhere"_s)), 0);
        QCOMPARE(world.library->statusText(), u"⚠️ Folder not found: %1"_s.arg(world.path(u"nowhere"_s)));
        QDir().mkpath(world.path(u"empty"_s));
        QCOMPARE(world.library->importFolder(world.path(u"empty"_s)), 0);
        QCOMPARE(world.library->statusText(), u"⚠️ No .STY / .PRS / .MID files found in empty"_s);
    }

    // 300 files on two drives give the first 150; the user folder (last) is not reached, nor links.
    void usbScanStopsAt150() {
        World world;
        world.start();
        QCOMPARE(world.library->detectedFlashDiskPath(), QString());
        QCOMPARE(world.library->scanUsbFlashDisk(), 12); // the user folder alone
        const QString user = qEnvironmentVariable("USER", u"musician"_s);
        const QString a = world.path(u"media/run/media/%1/STICK A"_s.arg(user)),
                      b = world.path(u"media/media/%1/B"_s.arg(user));
        for (int i = 0; i < 150; ++i) {
            put(a + u"/deep/%1/a%2.sty"_s.arg(i % 3).arg(i, 3, 10, QChar(u'0')), styleBytes(i % 35));
            put(b + u"/b%1.PRS"_s.arg(i, 3, 10, QChar(u'0')), "twenty bytes of text");
        }
        put(a + u"/skip.txt"_s, "twenty bytes of text");
        QFile::link(world.user(u"Rhumba_Bolero.sty"_s), a + u"/000-link.sty"_s);
        QCOMPARE(world.library->detectedFlashDiskPath(), a);
        QCOMPARE(world.library->scanUsbFlashDisk(), 150);
        const QStringList sources = world.rows("source_path");
        QCOMPARE(sources.filter(a).size(), 150);
        QCOMPARE(sources.filter(u"link"_s).size() + sources.filter(b).size(), 0);
    }

    // Real archives give their style files only, inside the folder, no links or overwrites; failures said.
    void archives() {
        useRealProgram(u"unzip"_s);
        World world;
        world.start();
        const QString pack = world.path(u"pack"_s);
        put(pack + u"/One.sty"_s, styleBytes(2));
        put(pack + u"/Two.STY"_s, styleBytes(3));
        put(pack + u"/notes.txt"_s, "twenty bytes of text");
        put(pack + u"/Mugithi_Classic.sty"_s, styleBytes(6)); // a sample's name, other bytes
        put(world.path(u"secret"_s), "secret bytes, not a style");
        QFile::link(world.path(u"secret"_s), pack + u"/Linked.sty"_s);
        QFile::link(world.path(u"gone"_s), pack + u"/Dangling.sty"_s);
        QProcess zip;
        zip.setWorkingDirectory(pack);
        zip.start(u"zip"_s, {u"-q"_s, u"-y"_s, u"../styles.zip"_s, u"One.sty"_s, u"Two.STY"_s, u"notes.txt"_s,
                             u"Mugithi_Classic.sty"_s, u"Linked.sty"_s, u"Dangling.sty"_s});
        QVERIFY(zip.waitForFinished(10000) && zip.exitCode() == 0);
        put(world.path(u"Song [1].sty"_s), styleBytes(4));
        QProcess::execute(u"/usr/bin/python3"_s,
                          {u"-c"_s,
                           u"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'a');"
                           "z.writestr('../../evil.sty', 'twenty bytes of evil');"
                           "z.writestr('/tmp/abs.STY', 'twenty bytes of evil');"
                           "z.writestr('a\\\\..\\\\..\\\\back.sty', 'twenty bytes of evil');"
                           "z.writestr('../more.sty', 'twenty bytes of evil');"
                           "z.write(sys.argv[2], 'deep/Song [1].sty')"_s,
                           world.path(u"styles.zip"_s), world.path(u"Song [1].sty"_s)});
        QCOMPARE(world.library->importFiles({world.path(u"styles.zip"_s)}), 4);
        QCOMPARE(
            world.library->statusText(),
            u"💾 Saved 4 .STY Beat(s) to Solution DB (catalog.db) • Total in DB: 16 • ⚠️ Refused 4 "
            "unsafe archive entries: ../../evil.sty, /tmp/abs.STY, a\\..\\..\\back.sty, …"_s);
        QStringList expected = sampleNames() + QStringList{u"Mugithi_Classic (2).sty"_s, u"One.sty"_s,
                                                           u"Song [1].sty"_s, u"Two.STY"_s};
        expected.sort();
        QCOMPARE(world.folder(), expected);
        QCOMPARE(world.rows(), expected);
        QCOMPARE(read(world.user(u"Mugithi_Classic.sty"_s)), styleBytes(0));
        QVERIFY(!QFile::exists(world.path(u"evil.sty"_s)) && !QFile::exists(world.path(u"gone"_s)) &&
                !QFile::exists(u"/tmp/abs.STY"_s));
        QVERIFY(world.rows("hex(sty_blob)")
                    .filter(QString::fromLatin1(QByteArray("secret").toHex().toUpper()))
                    .isEmpty());

        QProcess::execute(u"zip"_s, {u"-q"_s, u"-j"_s, world.path(u"texts.zip"_s), pack + u"/notes.txt"_s});
        QCOMPARE(world.library->importFiles({world.path(u"texts.zip"_s)}), 0); // not the whole folder again
        const QString bad = put(world.path(u"bad.zip"_s), "PK\x03\x04 broken archive bytes");
        const auto failsToUnpack = [&](const QString& program, int timeoutMs, const QStringList& files,
                                       int count) {
            world.options.unzipProgram = program;
            world.options.unzipTimeoutMs = timeoutMs;
            world.start();
            return world.library->importFiles(files) == count &&
                   world.library->statusText().endsWith(
                       u"⚠️ Could not unpack %1"_s.arg(QFileInfo(files[0]).fileName()));
        };
        QVERIFY(failsToUnpack(u"unzip"_s, 15000, {bad}, 0));
        QVERIFY(failsToUnpack(world.path(u"no-unzip"_s), 15000,
                              {world.path(u"styles.zip"_s), pack + u"/One.sty"_s}, 1));
        put(world.path(u"slow-unzip"_s), "#!/bin/sh\nexec sleep 20\n");
        QFile::setPermissions(world.path(u"slow-unzip"_s), QFile::ReadOwner | QFile::ExeOwner);
        QVERIFY(failsToUnpack(world.path(u"slow-unzip"_s), 300, {world.path(u"styles.zip"_s)}, 0));
    }
};

QTEST_GUILESS_MAIN(StyleLibraryTest)
#include "tst_style_library.moc"
