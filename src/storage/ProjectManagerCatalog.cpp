// The instrument catalogue of ProjectManager: its database lists, the rebuild
// from built-in tables, folders and imports, lookup, search, favourites, import.

#include "ProjectManager.h"

#include "storage/BuiltinPresets.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace tmb {

namespace {

const QString sfzSuffix = QStringLiteral("sfz");

// The file's engine: SFZ sampler for ".sfz" in any case, SoundFont otherwise.
int engineTypeForSuffix(const QString& suffix) {
    return suffix.compare(sfzSuffix, Qt::CaseInsensitive) == 0 ? 0 : 1;
}

QString canonicalPathOf(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

// A file met in the walk of one scanned folder.
struct FoundFile {
    QString path;
    QString canonicalPath;
    qint64 size;
};

// Every SFZ and SoundFont file below `folder`: a plain directory walk that reads
// names and sizes only. Hidden folders and folder links are not entered, so a
// link loop cannot trap the walk. Sorted by path so that ids come out the same
// on every run.
std::vector<FoundFile> walkInstrumentFolder(const QString& folder) {
    std::vector<FoundFile> found;
    const QFileInfo rootInfo(folder);
    if (!rootInfo.isDir()) return found;
    const QString root = rootInfo.absoluteFilePath();
    const QString canonicalRoot = rootInfo.canonicalFilePath();
    static const QStringList patterns{QStringLiteral("*.sfz"), QStringLiteral("*.sf2"),
                                      QStringLiteral("*.SFZ"), QStringLiteral("*.SF2")};
    QDirIterator it(root, patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // Below the root only a file itself can be a link: folder links are not followed.
        const QString canonical =
            info.isSymLink() ? info.canonicalFilePath() : canonicalRoot + info.filePath().mid(root.size());
        if (canonical.isEmpty()) continue;
        found.push_back({info.filePath(), canonical, info.size()});
    }
    std::sort(found.begin(), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
    return found;
}

bool isSkippedByName(const QString& fileName) {
    return fileName == QLatin1String("default.sf2") || fileName == QLatin1String("FluidR3_GM.sf2") ||
           avlDrumKitFileNames().contains(fileName);
}

QString engineLabel(int engineType) {
    switch (engineType) {
    case 0:
        return QStringLiteral("SFZ Multi-Layer");
    case 1:
        return QStringLiteral("SF2 SoundFont");
    default:
        return QStringLiteral("DSP Synth/Model");
    }
}

} // namespace

// ---------------------------------------------------------------- database

QString ProjectManager::databaseFilePath() const {
    return QDir(m_dataDirectory).filePath(QStringLiteral("catalog.db"));
}

bool ProjectManager::initializeCatalogDatabase() {
    if (!m_database.open(databaseFilePath())) return false;
    loadFavoritesFromDb();
    loadImportedFilesFromDb();
    return true;
}

void ProjectManager::loadFavoritesFromDb() {
    if (!m_database.isOpen()) return;
    const QStringList favorites = m_database.selectTexts("SELECT preset_id FROM favorites;");
    m_favorites = QSet<QString>(favorites.begin(), favorites.end());
    const QStringList cleared = m_database.selectTexts("SELECT preset_id FROM cleared_builtin_favorites;");
    m_clearedBuiltinFavorites = QSet<QString>(cleared.begin(), cleared.end());
}

void ProjectManager::loadImportedFilesFromDb() {
    if (!m_database.isOpen()) return;
    // In import order: the first of two same-named files keeps the plain id.
    m_importedFiles = m_database.selectTexts("SELECT file_path FROM imported_files ORDER BY rowid;");
    m_importedFileSet = QSet<QString>(m_importedFiles.begin(), m_importedFiles.end());
}

// ---------------------------------------------------------------- rebuild

void ProjectManager::discoverAndIndexPresets() {
    m_presets.clear();
    m_searchTexts.clear();
    m_indexById.clear();
    m_listedFiles.clear();
    m_builtinFavorites.clear();

    appendLocalLibraries();
    appendGeneralMidiPresets();
    for (InstrumentPreset& preset : builtinSynthPresets())
        appendPreset(std::move(preset));
    appendDiscoveredFiles();
    appendImportedFiles();

    for (InstrumentPreset& preset : m_presets) {
        if (m_favorites.contains(preset.id))
            preset.isFavorite = true;
        else if (m_clearedBuiltinFavorites.contains(preset.id))
            preset.isFavorite = false;
    }
    m_listedFiles.clear();
}

void ProjectManager::appendPreset(InstrumentPreset preset) {
    if (preset.isFavorite) m_builtinFavorites.insert(preset.id);
    // What a text search looks at, case-folded once here rather than on every search.
    const QChar separator(0x1f);
    m_searchTexts.push_back((preset.name + separator + preset.category + separator + preset.subcategory +
                             separator + preset.manufacturerStyle)
                                .toCaseFolded());
    m_indexById.insert(preset.id, static_cast<int>(m_presets.size()));
    m_presets.push_back(std::move(preset));
}

void ProjectManager::rememberListed(const QString& path) {
    m_listedFiles.insert(canonicalPathOf(path));
}

void ProjectManager::appendLocalLibraries() {
    if (QFileInfo(m_locations.concertGrandSfz).isFile()) {
        InstrumentPreset preset;
        preset.id = QStringLiteral("sfz_salamander_c5");
        preset.name = QStringLiteral("Concert Grand C5 (Salamander V3 16-Layer SFZ)");
        preset.category = QStringLiteral("Pianos & Keyboards");
        preset.subcategory = QStringLiteral("Concert Grand");
        preset.manufacturerStyle = QStringLiteral("Yamaha C5 / Montage Flagship Style");
        preset.engineType = 0;
        preset.filePath = m_locations.concertGrandSfz;
        preset.brightness = 0.58f;
        preset.reverbAmount = 0.28f;
        preset.sizeBytes = 1240000000; // the whole sample library, not the .sfz text
        preset.isFavorite = true;
        rememberListed(preset.filePath);
        appendPreset(std::move(preset));
    }
    if (QFileInfo(m_locations.studioGrandSfz).isFile()) {
        InstrumentPreset preset;
        preset.id = QStringLiteral("sfz_salamander_studio");
        preset.name = QStringLiteral("Studio Grand Piano (Salamander V3 Retuned SFZ)");
        preset.category = QStringLiteral("Pianos & Keyboards");
        preset.subcategory = QStringLiteral("Studio Grand");
        preset.manufacturerStyle = QStringLiteral("Yamaha Clavinova / Studio Style");
        preset.engineType = 0;
        preset.filePath = m_locations.studioGrandSfz;
        rememberListed(preset.filePath);
        appendPreset(std::move(preset));
    }
    const QFileInfo cp80(m_locations.electricGrandSf2);
    if (cp80.isFile()) {
        InstrumentPreset preset;
        preset.id = QStringLiteral("sf2_cp80_electric_grand");
        preset.name = QStringLiteral("CP80 Electric Grand Piano (16-Bit 44.1kHz)");
        preset.category = QStringLiteral("Pianos & Keyboards");
        preset.subcategory = QStringLiteral("Electric Grand");
        preset.manufacturerStyle = QStringLiteral("Yamaha CP80 Stage Style");
        preset.engineType = 1;
        preset.filePath = m_locations.electricGrandSf2;
        preset.brightness = 0.62f;
        preset.reverbAmount = 0.26f;
        preset.chorusAmount = 0.25f;
        preset.licenseInfo = QStringLiteral("Local Library");
        preset.sizeBytes = cp80.size();
        rememberListed(preset.filePath);
        appendPreset(std::move(preset));
    }
}

void ProjectManager::appendGeneralMidiPresets() {
    const QString font = m_locations.generalMidiSoundFont();
    if (font.isEmpty()) return;
    // Found through a link ("default-GM.sf2"), the font's own file is not listed again.
    rememberListed(font);
    for (InstrumentPreset& preset : builtinSoundFontPresets(font, QFileInfo(font).size()))
        appendPreset(std::move(preset));
}

void ProjectManager::appendDiscoveredFiles() {
    // An imported file is listed once, as the user's import.
    QSet<QString> imported;
    for (const QString& path : std::as_const(m_importedFiles)) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (!canonical.isEmpty()) imported.insert(canonical);
    }
    for (const QString& folder : std::as_const(m_locations.scanFolders)) {
        for (const FoundFile& file : walkInstrumentFolder(folder)) {
            const QFileInfo info(file.path);
            if (isSkippedByName(info.fileName()) || m_listedFiles.contains(file.canonicalPath) ||
                imported.contains(file.canonicalPath))
                continue;
            m_listedFiles.insert(file.canonicalPath);
            const QString suffix = info.suffix().toUpper();
            InstrumentPreset preset;
            preset.id = uniqueId(QStringLiteral("auto_") + info.completeBaseName(), file.path);
            preset.name =
                info.completeBaseName() + QStringLiteral(" (Auto-Discovered ") + suffix + QLatin1Char(')');
            preset.category = QStringLiteral("Pianos & Keyboards");
            preset.subcategory = suffix + QStringLiteral(" Library");
            preset.manufacturerStyle = QStringLiteral("Zero-Setup Auto-Loaded");
            preset.engineType = engineTypeForSuffix(suffix);
            preset.filePath = file.path;
            preset.sizeBytes = file.size;
            preset.licenseInfo = QStringLiteral("Auto-Discovered Local Asset");
            appendPreset(std::move(preset));
        }
    }
}

void ProjectManager::appendImportedFiles() {
    for (const QString& path : std::as_const(m_importedFiles)) {
        const QFileInfo info(path);
        const bool exists = info.isFile();
        const QString suffix = info.suffix().toUpper();
        InstrumentPreset preset;
        preset.id = uniqueId(QStringLiteral("user_") + info.completeBaseName(), path);
        preset.name = info.completeBaseName() + QStringLiteral(" (User Library)");
        preset.category = QStringLiteral("Pianos & Keyboards");
        preset.subcategory = suffix + QStringLiteral(" Library");
        preset.manufacturerStyle = QStringLiteral("Imported Custom Instrument");
        preset.engineType = engineTypeForSuffix(suffix);
        preset.filePath = path;
        preset.sizeBytes = exists ? info.size() : 0;
        preset.missingFile = !exists;
        preset.licenseInfo = QStringLiteral("User Imported");
        appendPreset(std::move(preset));
    }
}

// Two files of the same name in different folders must not share an id, or the
// second could never be chosen. The first keeps the plain id; a later one adds a
// tag derived from its path, so it keeps the same id from run to run.
QString ProjectManager::uniqueId(const QString& id, const QString& filePath) const {
    if (!m_indexById.contains(id)) return id;
    const QByteArray digest = QCryptographicHash::hash(filePath.toUtf8(), QCryptographicHash::Sha1).toHex();
    QString tagged = id + QLatin1Char('_') + QString::fromLatin1(digest.left(8));
    for (int extra = 2; m_indexById.contains(tagged); ++extra)
        tagged = id + QLatin1Char('_') + QString::fromLatin1(digest.left(8)) + QLatin1Char('_') +
                 QString::number(extra);
    return tagged;
}

// ---------------------------------------------------------------- lookup

std::optional<InstrumentPreset> ProjectManager::firstPreset() const {
    if (m_presets.empty()) return std::nullopt;
    return m_presets.front();
}

std::optional<InstrumentPreset> ProjectManager::presetWithId(const QString& id) const {
    const auto it = m_indexById.constFind(id);
    if (it == m_indexById.cend()) return std::nullopt;
    return m_presets[static_cast<size_t>(*it)];
}

std::optional<InstrumentPreset> ProjectManager::findPresetById(const QString& id) const {
    const QString translated = translateLegacyPresetId(id);
    const int translatedIndex = m_indexById.value(translated, -1);
    const int unchangedIndex = m_indexById.value(id, -1);
    if (translatedIndex >= 0 || unchangedIndex >= 0) {
        const int index = translatedIndex < 0  ? unchangedIndex
                          : unchangedIndex < 0 ? translatedIndex
                                               : std::min(translatedIndex, unchangedIndex);
        return m_presets[static_cast<size_t>(index)];
    }
    if (translated == QLatin1String("sfz_salamander_c5")) {
        if (auto grand = presetWithId(QStringLiteral("gm_acoustic_grand"))) return grand;
    }
    return firstPreset();
}

QStringList ProjectManager::presetCategories() const {
    QStringList categories;
    for (const InstrumentPreset& preset : m_presets) {
        if (!categories.contains(preset.category)) categories.append(preset.category);
    }
    return categories;
}

QVariantList ProjectManager::presetsAsVariantList(const QString& category, const QString& searchText,
                                                  bool favoritesOnly) const {
    const QString search = searchText.trimmed().toCaseFolded();
    const bool anyCategory =
        category.isEmpty() || category.compare(QLatin1String("All"), Qt::CaseInsensitive) == 0;
    QVariantList list;
    list.reserve(static_cast<qsizetype>(m_presets.size()));
    for (size_t i = 0; i < m_presets.size(); ++i) {
        const InstrumentPreset& preset = m_presets[i];
        if (favoritesOnly && !preset.isFavorite) continue;
        if (!anyCategory && preset.category != category) continue;
        if (!search.isEmpty() && !m_searchTexts[i].contains(search)) continue;
        // Keys in sorted order, each appended at the end of the map.
        QVariantMap map;
        map.insert(map.cend(), QStringLiteral("category"), preset.category);
        map.insert(map.cend(), QStringLiteral("engineLabel"), engineLabel(preset.engineType));
        map.insert(map.cend(), QStringLiteral("engineType"), preset.engineType);
        map.insert(map.cend(), QStringLiteral("filePath"), preset.filePath);
        map.insert(map.cend(), QStringLiteral("id"), preset.id);
        map.insert(map.cend(), QStringLiteral("isFavorite"), preset.isFavorite);
        map.insert(map.cend(), QStringLiteral("licenseInfo"), preset.licenseInfo);
        map.insert(map.cend(), QStringLiteral("manufacturerStyle"), preset.manufacturerStyle);
        map.insert(map.cend(), QStringLiteral("missingFile"), preset.missingFile);
        map.insert(map.cend(), QStringLiteral("name"), preset.name);
        map.insert(map.cend(), QStringLiteral("sizeMB"),
                   QString::number(static_cast<double>(preset.sizeBytes) / 1048576.0, 'f', 1));
        map.insert(map.cend(), QStringLiteral("subcategory"), preset.subcategory);
        list.append(map);
    }
    return list;
}

// ---------------------------------------------------------------- changes

bool ProjectManager::toggleFavorite(const QString& presetId) {
    const auto it = m_indexById.constFind(presetId);
    if (it == m_indexById.cend()) return false;
    InstrumentPreset& preset = m_presets[static_cast<size_t>(*it)];
    preset.isFavorite = !preset.isFavorite;
    // The lists change even when the database is closed, so the mark survives a
    // rebuild within this session.
    if (preset.isFavorite) {
        m_favorites.insert(presetId);
        m_clearedBuiltinFavorites.remove(presetId);
        m_database.executeInTransaction(
            {{"INSERT OR REPLACE INTO favorites (preset_id) VALUES (?);", presetId},
             {"DELETE FROM cleared_builtin_favorites WHERE preset_id = ?;", presetId}});
    } else if (m_builtinFavorites.contains(presetId)) {
        m_favorites.remove(presetId);
        m_clearedBuiltinFavorites.insert(presetId);
        m_database.executeInTransaction(
            {{"DELETE FROM favorites WHERE preset_id = ?;", presetId},
             {"INSERT OR REPLACE INTO cleared_builtin_favorites (preset_id) VALUES (?);", presetId}});
    } else {
        m_favorites.remove(presetId);
        m_database.execute("DELETE FROM favorites WHERE preset_id = ?;", {presetId});
    }
    return preset.isFavorite;
}

bool ProjectManager::importInstrumentFile(const QString& path, QString* message, InstrumentPreset* imported) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) {
        if (message) *message = QStringLiteral("File does not exist: %1").arg(path);
        return false;
    }
    const QString suffix = info.suffix().toLower();
    if (suffix != QLatin1String("sf2") && suffix != sfzSuffix) {
        if (message)
            *message = QStringLiteral("Unsupported format. Please select an .sf2 or .sfz instrument file.");
        return false;
    }
    const QString absolutePath = info.absoluteFilePath();
    if (!m_importedFileSet.contains(absolutePath)) {
        m_importedFiles.append(absolutePath);
        m_importedFileSet.insert(absolutePath);
        m_database.execute("INSERT OR REPLACE INTO imported_files (file_path, added_at) VALUES (?, ?);",
                           {absolutePath, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)});
    }
    discoverAndIndexPresets();
    if (imported) {
        const auto entry =
            std::find_if(m_presets.cbegin(), m_presets.cend(), [&](const InstrumentPreset& preset) {
                return preset.filePath == absolutePath && preset.id.startsWith(QLatin1String("user_"));
            });
        if (entry != m_presets.cend()) *imported = *entry;
    }
    if (message) *message = QStringLiteral("Imported instrument: %1").arg(info.fileName());
    return true;
}

} // namespace tmb
