#include "StyleLibrary.h"

#include "rhythm/StyleFileReader.h"
#include "rhythm/StyleFileWriter.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <memory>

namespace tmb {

namespace {

const QStringList importSuffixes{QStringLiteral("sty"), QStringLiteral("prs"), QStringLiteral("bcs"),
                                 QStringLiteral("sst"), QStringLiteral("mid")};
const QStringList usbSuffixes{QStringLiteral("sty"), QStringLiteral("prs"), QStringLiteral("bcs"),
                              QStringLiteral("sst")};
const QString archiveSuffix = QStringLiteral("zip");
const QStringList archivePatterns{QStringLiteral("*.sty"), QStringLiteral("*.STY"), QStringLiteral("*.prs"),
                                  QStringLiteral("*.PRS"), QStringLiteral("*.bcs"), QStringLiteral("*.BCS"),
                                  QStringLiteral("*.sst"), QStringLiteral("*.SST")};
const QStringList folderPatterns =
    archivePatterns + QStringList{QStringLiteral("*.mid"), QStringLiteral("*.MID")};
// unzip's exit codes for "unpacked": 1 is a warning, 11 a pattern that matched nothing.
constexpr int unzipUnpackedCodes[] = {0, 1, 11};
constexpr int copyNameAttempts = 1000;
// Member names given to one unzip run, well inside the argument-list limit.
constexpr qsizetype archiveMembersPerRun = 500;
constexpr qsizetype refusedNamesShown = 3;

QString localPath(const QString& urlOrPath) {
    return urlOrPath.startsWith(QLatin1String("file://")) ? QUrl(urlOrPath).toLocalFile() : urlOrPath;
}

// A link counts even when it dangles: nothing is ever written through one.
bool occupied(const QString& path) {
    const QFileInfo info(path);
    return info.isSymLink() || info.exists();
}

bool isPlainFile(const QString& path) {
    const QFileInfo info(path);
    return !info.isSymLink() && info.isFile();
}

// The whole file, or a null array when it cannot be read or is larger than any
// style file the reader accepts.
QByteArray readBounded(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxStyleFileBytes) return {};
    // Sized from the file; one byte more shows a file that grew meanwhile.
    const QByteArray bytes = file.read(file.size() + 1);
    return bytes.size() > maxStyleFileBytes ? QByteArray() : bytes;
}

// Writes a new file whole or not at all: a hidden temporary file beside it, renamed
// to a name that must still be free, so nothing is ever written through a link
// that appeared meanwhile. Not synced to disk: the bytes are also in the table,
// which restores a copy lost or cut short by a crash.
bool writeNewFile(const QString& path, const QByteArray& bytes) {
    QTemporaryFile file(QFileInfo(path).absolutePath() + QStringLiteral("/.tembora-XXXXXX"));
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()) return false;
    file.close();
    if (QFile::rename(file.fileName(), path)) {
        file.setAutoRemove(false);
        return true;
    }
    return false;
}

bool hasSuffix(const QString& path, const QStringList& suffixes) {
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

// Regular files below `folder` with one of `suffixes`, sorted by path; links to
// files or folders are not followed. At most `limit` are appended.
void walk(const QString& folder, const QStringList& suffixes, qsizetype limit, QStringList& out) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (hasSuffix(path, suffixes)) found << path;
    }
    found.sort();
    out += found.mid(0, std::max<qsizetype>(0, limit - out.size()));
}

// An archive member that unpacks inside a folder: not absolute, no drive letter,
// no ".." part (either slash counts as a separator).
bool safeArchiveMember(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) ||
        (name.size() > 1 && name[1] == QLatin1Char(':')))
        return false;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return !name.split(separators).contains(QStringLiteral(".."));
}

QString canonicalFolder(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

QString userStyStorageDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Tembora/UserStyles");
}

// One sample per genre family. Where a keyword of the file name picks the style
// itself as the template of the imported copy, the name carries it.
const StyleLibrary::Sample StyleLibrary::samples[12] = {
    {"Lingala_Seben.sty", 8},  {"Mugithi_Classic.sty", 0},     {"Worship_Anthem.sty", 24},
    {"Rhumba_Congo.sty", 4},   {"Twist_Zilizopendwa.sty", 21}, {"Reggae_Zanduvi.sty", 16},
    {"Country_Train.sty", 12}, {"Pentecostal_Shout.sty", 27},  {"Twist_Chakacha.sty", 22},
    {"Rhumba_Bolero.sty", 5},  {"Mugithi_Kinanda.sty", 1},     {"Twist_Benga.sty", 23}};

// What one import has taken so far, and the private folders its archives were
// unpacked into (removed when the import ends).
struct StyleLibrary::Taken {
    QSet<QString> canonicalPaths;
    std::vector<std::unique_ptr<QTemporaryDir>> unpacked;

    void add(const QString& path, QStringList& files) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty() || canonicalPaths.contains(canonical)) return;
        canonicalPaths.insert(canonical);
        files << path;
    }
};

StyleLibrary::StyleLibrary(BeatSequencer& sequencer, ProjectManager& projects, StyleLibraryOptions options)
    : m_sequencer(sequencer)
    , m_projects(projects)
    , m_options(std::move(options)) {}

bool StyleLibrary::insideUserFolder(const QString& path) const {
    const QFileInfo info(path);
    return !info.fileName().isEmpty() &&
           canonicalFolder(info.absolutePath()) == canonicalFolder(userFolder());
}

QStringList StyleLibrary::mediaRoots(bool withMnt) const {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) user = QStringLiteral("musician");
    const QString prefix = m_options.mediaRoot;
    QStringList roots{prefix + QStringLiteral("/run/media/") + user,
                      prefix + QStringLiteral("/media/") + user};
    if (withMnt) roots << prefix + QStringLiteral("/mnt");
    return roots;
}

QString StyleLibrary::detectedFlashDiskPath() const {
    for (const QString& root : mediaRoots(true)) {
        const QDir dir(root);
        const QStringList folders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        if (dir.exists() && !folders.isEmpty()) return dir.absoluteFilePath(folders.first());
    }
    return {};
}

// ---------------------------------------------------------------- imports

void StyleLibrary::collect(const QString& entry, QStringList& files, Taken& taken) {
    const QString path = localPath(entry);
    const QFileInfo info(path);
    if (!info.exists()) return;
    if (info.isDir()) {
        QStringList found;
        walk(path, importSuffixes + QStringList{archiveSuffix}, std::numeric_limits<qsizetype>::max(), found);
        for (const QString& file : std::as_const(found))
            collect(file, files, taken);
    } else if (info.suffix().toLower() == archiveSuffix) {
        unpackArchive(info.absoluteFilePath(), files, taken);
    } else if (hasSuffix(path, importSuffixes)) {
        taken.add(path, files);
    }
}

// One run of `unzip`, stopped when `deadline` passes; its standard output when
// asked for. True when it ran to the end with a code meaning "unpacked".
bool StyleLibrary::runUnzip(const QStringList& arguments, const QDeadlineTimer& deadline,
                            QByteArray* output) const {
    QProcess unzip;
    if (!output) unzip.setStandardOutputFile(QProcess::nullDevice());
    unzip.setStandardErrorFile(QProcess::nullDevice());
    unzip.start(m_options.unzipProgram, arguments);
    if (!unzip.waitForFinished(std::max<int>(1, int(deadline.remainingTime())))) {
        unzip.kill();
        unzip.waitForFinished(1000);
        return false;
    }
    if (output) *output = unzip.readAllStandardOutput();
    return unzip.exitStatus() == QProcess::NormalExit &&
           std::find(std::begin(unzipUnpackedCodes), std::end(unzipUnpackedCodes), unzip.exitCode()) !=
               std::end(unzipUnpackedCodes);
}

// Lists the archive's members and unpacks, by name, only the style files whose
// names stay inside a folder (no ".." part, not absolute), into a private folder
// of its own, so that only what the archive holds is taken; links it recreates
// are left behind. The refused names are kept for the status line.
bool StyleLibrary::unpackArchive(const QString& archive, QStringList& files, Taken& taken) {
    auto folder = std::make_unique<QTemporaryDir>();
    const QDeadlineTimer deadline(m_options.unzipTimeoutMs);
    QByteArray listing;
    bool unpacked = folder->isValid() && runUnzip({QStringLiteral("-Z1"), archive}, deadline, &listing);
    QStringList members;
    for (const QByteArray& line : listing.split('\n')) {
        const QString name = QString::fromUtf8(line);
        if (!archivePatterns.contains(QStringLiteral("*.") + QFileInfo(name).suffix())) continue;
        if (!safeArchiveMember(name)) {
            m_refusedMembers << name;
            continue;
        }
        // unzip reads member names as wildcard patterns: match this one literally.
        QString literal;
        for (const QChar c : name) {
            if (QStringLiteral("\\*?[]").contains(c)) literal += QLatin1Char('\\');
            literal += c;
        }
        members << literal;
    }
    for (qsizetype from = 0; unpacked && from < members.size(); from += archiveMembersPerRun)
        unpacked = runUnzip(QStringList{QStringLiteral("-o"), QStringLiteral("-j"), archive} +
                                members.mid(from, archiveMembersPerRun) +
                                QStringList{QStringLiteral("-d"), folder->path()},
                            deadline, nullptr);
    if (!unpacked) {
        m_unpackFailure = QFileInfo(archive).fileName();
        return false;
    }
    const QFileInfoList found =
        QDir(folder->path()).entryInfoList(archivePatterns, QDir::Files | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& file : found)
        taken.add(file.filePath(), files);
    taken.unpacked.push_back(std::move(folder));
    return true;
}

// Where the bytes of `source` live in the user style folder: the file itself when
// it is there already; else the first of "Name.sty", "Name (2).sty", ... that is
// free (written now) or holds the same bytes (refreshed in place). Empty when the
// copy could not be written.
QString StyleLibrary::storeCopy(const QString& source, const QByteArray& bytes) {
    const QString canonical = QFileInfo(source).canonicalFilePath();
    if (canonical.isEmpty()) return {};
    const QFileInfo sourceInfo(canonical);
    const QString folder = userFolder();
    if (canonicalFolder(sourceInfo.absolutePath()) == canonicalFolder(folder))
        return folder + QLatin1Char('/') + sourceInfo.fileName();
    const QFileInfo named(source);
    for (int n = 1; n <= copyNameAttempts; ++n) {
        const QString name =
            n == 1 ? named.fileName()
                   : QStringLiteral("%1 (%2).%3").arg(named.completeBaseName()).arg(n).arg(named.suffix());
        const QString path = folder + QLatin1Char('/') + name;
        const QFileInfo existing(path);
        if (!occupied(path)) return writeNewFile(path, bytes) ? path : QString();
        if (isPlainFile(path) && existing.size() == bytes.size() && readBounded(path) == bytes) return path;
    }
    return {};
}

bool StyleLibrary::importAsRecord(const QString& source, const QString& copy, const QByteArray& bytes,
                                  std::vector<StyDatabaseRecord>& records) {
    const QString path = !copy.isEmpty() && isPlainFile(copy) ? copy : source;
    const int index = m_sequencer.importStyFile(path);
    if (index < 0) return false;
    const StylePattern& style = m_sequencer.styles()[static_cast<std::size_t>(index)];
    StyDatabaseRecord record;
    record.fileName = QFileInfo(path).fileName();
    record.styleName = style.name;
    record.genreFamily = style.genre;
    record.defaultBpm = style.bpm;
    record.stepsPerBar = style.stepsPerBar;
    record.beatsPerBar = style.beatsPerBar;
    record.mainPresetId = style.mainPresetId;
    record.layerPresetId = style.layerPresetId;
    record.splitPresetId = style.splitPresetId;
    record.bassGmProg = style.bassGmProg;
    record.rhythmGmProg = style.rhythmGmProg;
    record.harmonyGmProg = style.harmonyGmProg;
    record.leadGmProg = style.leadGmProg;
    record.sourcePath = source;
    record.localCachePath = copy.isEmpty() ? userFolder() + QLatin1Char('/') + record.fileName : copy;
    record.fileSize = bytes.size();
    record.styBlob = bytes;
    record.addedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    records.push_back(std::move(record));
    m_lastImported = index;
    return true;
}

int StyleLibrary::importCollected(const QStringList& files) {
    QDir().mkpath(userFolder());
    std::vector<StyDatabaseRecord> records;
    int count = 0;
    for (const QString& file : files) {
        if (!QFileInfo(file).isFile()) continue;
        const QByteArray bytes = readBounded(file);
        if (bytes.isNull()) continue;
        if (importAsRecord(file, storeCopy(file, bytes), bytes, records)) ++count;
    }
    m_projects.saveStyBeatsBatchToDatabase(records);
    return count;
}

int StyleLibrary::importFiles(const QStringList& urlsOrPaths) {
    m_unpackFailure.clear();
    m_refusedMembers.clear();
    m_lastImported = -1;
    Taken taken;
    QStringList files;
    for (const QString& entry : urlsOrPaths)
        collect(entry, files, taken);
    const int count = importCollected(files);
    const QString saved =
        QStringLiteral("💾 Saved %1 .STY Beat(s) to Solution DB (catalog.db) • Total in DB: %2")
            .arg(count)
            .arg(m_projects.styBeatDatabaseCount());
    QStringList problems;
    if (!m_unpackFailure.isEmpty())
        problems << QStringLiteral("⚠️ Could not unpack %1").arg(m_unpackFailure);
    if (!m_refusedMembers.isEmpty()) {
        QString names = m_refusedMembers.mid(0, refusedNamesShown).join(QStringLiteral(", "));
        if (m_refusedMembers.size() > refusedNamesShown) names += QStringLiteral(", …");
        problems << QStringLiteral("⚠️ Refused %1 unsafe archive entr%2: %3")
                        .arg(m_refusedMembers.size())
                        .arg(m_refusedMembers.size() == 1 ? QStringLiteral("y") : QStringLiteral("ies"))
                        .arg(names);
    }
    if (count > 0 || problems.isEmpty()) problems.prepend(saved);
    m_statusText = problems.join(QStringLiteral(" • "));
    return count;
}

int StyleLibrary::importFolder(const QString& folderUrlOrPath) {
    const QString folder = localPath(folderUrlOrPath);
    if (!QFileInfo(folder).isDir()) {
        m_statusText = QStringLiteral("⚠️ Folder not found: %1").arg(folder);
        return 0;
    }
    QStringList found;
    walk(folder, importSuffixes + QStringList{archiveSuffix}, std::numeric_limits<qsizetype>::max(), found);
    if (found.isEmpty()) {
        m_statusText = QStringLiteral("⚠️ No .STY / .PRS / .MID files found in %1")
                           .arg(QFileInfo(folder).fileName());
        return 0;
    }
    int count = 0, last = -1;
    for (qsizetype from = 0; from < found.size(); from += folderBatchSize) {
        count += importFiles(found.mid(from, folderBatchSize));
        if (m_lastImported >= 0) last = m_lastImported;
    }
    m_lastImported = last;
    return count;
}

int StyleLibrary::scanUsbFlashDisk() {
    QStringList roots;
    for (const QString& media : mediaRoots(false)) {
        const QDir dir(media);
        for (const QString& drive : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            roots << dir.absoluteFilePath(drive);
    }
    roots << userFolder(); // last: drives come first under the limit
    QStringList found;
    for (const QString& root : std::as_const(roots))
        if (found.size() < usbFileLimit) walk(root, usbSuffixes, usbFileLimit, found);
    if (found.isEmpty()) {
        m_lastImported = -1;
        m_statusText =
            QStringLiteral("💾 No external .STY files found on USB — Use '+ ADD .STY FILES' to browse");
        return 0;
    }
    const int count = importFiles(found);
    m_statusText = QStringLiteral("💾 USB Flash Scan Complete: %1 .STY Beat(s) Ready!").arg(count);
    return count;
}

// ---------------------------------------------------------------- start-up

void StyleLibrary::rebuildAtStartup() {
    const QString folder = userFolder();
    QDir().mkpath(folder);

    const QSet<QString> removed = m_projects.removedSampleStyles();
    const std::vector<StylePattern>& styles = m_sequencer.styles();
    for (const Sample& sample : samples) {
        const QString name = QString::fromLatin1(sample.fileName);
        const QString path = folder + QLatin1Char('/') + name;
        if (sample.builtinIndex >= static_cast<int>(styles.size()) || removed.contains(name) ||
            occupied(path))
            continue;
        writeNewFile(path, buildYamahaSff1StyBytes(styles[static_cast<std::size_t>(sample.builtinIndex)]));
    }

    QSet<QString> stored;
    for (const StyDatabaseRecord& record : m_projects.loadStyBeatsFromDatabase()) {
        stored.insert(record.fileName);
        const QString& cache = record.localCachePath;
        // A blob goes back only to a free name inside the user style folder, or over a
        // copy of ours that a crash cut short.
        const bool restorable = !record.styBlob.isEmpty() && insideUserFolder(cache);
        if (restorable && isPlainFile(cache) && QFileInfo(cache).size() != record.styBlob.size())
            QFile::remove(cache);
        if (restorable && !occupied(cache)) writeNewFile(cache, record.styBlob);
        if (isPlainFile(cache)) m_sequencer.importStyFile(cache);
    }

    std::vector<StyDatabaseRecord> records;
    const QFileInfoList loose =
        QDir(folder).entryInfoList(folderPatterns, QDir::Files | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& file : loose) {
        if (stored.contains(file.fileName())) continue;
        const QByteArray bytes = readBounded(file.filePath());
        if (!bytes.isNull()) importAsRecord(file.filePath(), file.filePath(), bytes, records);
    }
    m_projects.saveStyBeatsBatchToDatabase(records);

    const QString flashDisk = detectedFlashDiskPath();
    m_statusText = QStringLiteral("💾 SQLite DB: %1 .STY Beats Stored%2")
                       .arg(m_sequencer.customStyleCount())
                       .arg(flashDisk.isEmpty() ? QString() : QStringLiteral(" • Flash Disk: ") + flashDisk);
}

// ---------------------------------------------------------------- removal

bool StyleLibrary::removeStyle(int styleIndex) {
    const std::vector<StylePattern>& styles = m_sequencer.styles();
    if (styleIndex < 0 || styleIndex >= static_cast<int>(styles.size())) return false;
    const StylePattern& style = styles[static_cast<std::size_t>(styleIndex)];
    if (!style.isCustomSty || style.styFilePath.isEmpty()) return false;
    const QString path = style.styFilePath;
    const QString name = QFileInfo(path).fileName();
    // Only the style's own copy: a file elsewhere is the user's.
    if (insideUserFolder(path)) QFile::remove(path);
    if (!m_sequencer.removeCustomStyle(styleIndex)) return false;
    m_projects.removeStyBeatFromDatabase(name);
    for (const Sample& sample : samples)
        if (name == QLatin1String(sample.fileName)) m_projects.rememberRemovedSampleStyles({name});
    m_statusText = QStringLiteral("💾 Removed %1 from Solution DB • %2 Remaining")
                       .arg(name.isEmpty() ? QStringLiteral(".STY Beat") : name)
                       .arg(m_sequencer.customStyleCount());
    return true;
}

void StyleLibrary::clearAll() {
    m_sequencer.clearCustomStyles();
    m_projects.clearAllStyBeatsFromDatabase();
    const QDir folder(userFolder());
    for (const QString& name : folder.entryList(folderPatterns, QDir::Files | QDir::System))
        QFile::remove(folder.filePath(name));
    QStringList sampleNames;
    for (const Sample& sample : samples)
        sampleNames << QString::fromLatin1(sample.fileName);
    m_projects.rememberRemovedSampleStyles(sampleNames);
    m_statusText =
        QStringLiteral("💾 Solution DB Custom .STY List Cleared • Click 'SCAN USB' or '+ ADD .STY' to Load");
}

} // namespace tmb
