#pragma once

#include "storage/CatalogDatabase.h"
#include "storage/CatalogLocations.h"
#include "storage/InstrumentPreset.h"
#include "storage/ProjectDocument.h"
#include "storage/RegistrationPreset.h"
#include "storage/StyDatabaseRecord.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>
#include <vector>

namespace tmb {

// Owns the program's data folder and what lives there: the instrument catalogue
// with its database "catalog.db" (favourites, imported instrument files, the
// style library), and the projects, registrations and autosave.
//
// The catalogue itself is never stored: it is rebuilt at every start (and after
// every import) from the built-in tables, a walk of the instrument folders and
// the imported files. If the database cannot be opened, favourites and imports
// live in memory for the session and nothing is reported.
//
// Threads: GUI thread only.
class ProjectManager {
public:
    // Uses CatalogLocations::standard().
    ProjectManager();
    explicit ProjectManager(const CatalogLocations& locations);
    ProjectManager(const ProjectManager&) = delete;
    ProjectManager& operator=(const ProjectManager&) = delete;

    // The writable data folder, created on construction.
    QString dataDirectory() const { return m_dataDirectory; }
    QString autosavePath() const;
    const CatalogLocations& catalogLocations() const { return m_locations; }

    // ---- catalogue database
    QString databaseFilePath() const;
    // Opens the database and loads the favourite and imported lists from it.
    bool initializeCatalogDatabase();
    bool isDatabaseOpen() const { return m_database.isOpen(); }
    void loadFavoritesFromDb();
    void loadImportedFilesFromDb();

    // ---- the catalogue
    // Rebuilds the preset list: local sample libraries, the General MIDI programs,
    // the synth patches, files found in the scanned folders, imported files.
    void discoverAndIndexPresets();
    const std::vector<InstrumentPreset>& presets() const { return m_presets; }
    int presetCount() const { return static_cast<int>(m_presets.size()); }
    std::optional<InstrumentPreset> firstPreset() const;
    // The preset with this id after translating legacy ids; failing that the
    // concert grand stands in for the missing sampled grand, and any other id
    // gets the first preset. None only when the catalogue is empty.
    std::optional<InstrumentPreset> findPresetById(const QString& id) const;
    // The preset with exactly this id, without the fall-backs above.
    std::optional<InstrumentPreset> presetWithId(const QString& id) const;
    // The distinct categories, in catalogue order.
    QStringList presetCategories() const;
    // One map per matching preset, in catalogue order (the scene's preset browser).
    // An empty category or "All" keeps every category; the search text matches
    // name, category, subcategory or style, ignoring case.
    QVariantList presetsAsVariantList(const QString& category, const QString& searchText,
                                      bool favoritesOnly) const;
    // Flips the favourite mark and stores it; returns the new state, or false for
    // an unknown id.
    bool toggleFavorite(const QString& presetId);
    // Adds an .sf2 or .sfz file to the catalogue for good. `message` receives the
    // status text, `imported` the catalogue entry of the file on success.
    bool importInstrumentFile(const QString& path, QString* message = nullptr,
                              InstrumentPreset* imported = nullptr);

    // ---- style library table (ProjectManagerStyles.cpp); no-ops returning false
    // or 0 while the database is closed.
    // All records in one transaction; an empty genre family is stored as "💾 USB STY".
    bool saveStyBeatsBatchToDatabase(const std::vector<StyDatabaseRecord>& records);
    bool saveStyBeatToDatabase(const StyDatabaseRecord& record);
    // Ordered by file name.
    std::vector<StyDatabaseRecord> loadStyBeatsFromDatabase() const;
    bool removeStyBeatFromDatabase(const QString& fileName);
    bool clearAllStyBeatsFromDatabase();
    int styBeatDatabaseCount() const;
    // Sample style files the user removed: never written again.
    QSet<QString> removedSampleStyles() const;
    void rememberRemovedSampleStyles(const QStringList& fileNames);

    // ---- projects and the autosave file (ProjectManagerProjects.cpp)
    // Adds what the catalogue knows of the main preset (its instrument file).
    void completeForSave(ProjectContent& content) const;
    // Saves `content` (completed as above) to `path`; see ProjectDocument::save.
    bool saveProject(const QString& path, ProjectContent content, QString* error) const;
    // Reads a project into `content` (which holds the caller's values) and lists
    // what the catalogue misses: a sample file gone, a preset not installed.
    bool loadProject(const QString& path, ProjectContent& content, QStringList& warnings,
                     QString* error) const;
    bool hasRecoverableAutosave() const;
    void clearRecoverableAutosave() const;
    // The autosave of the last session, kept aside at start-up before the new
    // session's first autosave overwrites it, so a crashed service can be reopened.
    QString previousSessionAutosavePath() const;
    bool keepPreviousSessionAutosave() const;

    // ---- registrations: eight memories, rebuilt from the factory table at every
    // start and never stored.
    void initDefaultRegistrations();
    int registrationCount() const { return static_cast<int>(m_registrations.size()); }
    // Null for an index out of range.
    const RegistrationPreset* registration(int index) const;
    // Ignored for an index out of range; the stored record takes the index as its slot.
    void saveRegistration(int index, const RegistrationPreset& record);
    QVariantList registrationsAsVariantList() const;

private:
    void appendLocalLibraries();
    void appendGeneralMidiPresets();
    void appendDiscoveredFiles();
    void appendImportedFiles();
    void appendPreset(InstrumentPreset preset);
    QString uniqueId(const QString& id, const QString& filePath) const;
    void rememberListed(const QString& path);

    CatalogLocations m_locations;
    QString m_dataDirectory;
    CatalogDatabase m_database;

    // Catalogue in order, and the position of each id in it.
    std::vector<InstrumentPreset> m_presets;
    std::vector<QString> m_searchTexts; // name, categories and style of each preset, case-folded
    QHash<QString, int> m_indexById;
    // Canonical paths of the files listed so far in a rebuild.
    QSet<QString> m_listedFiles;
    // Ids a built-in table marks as favourites.
    QSet<QString> m_builtinFavorites;

    QSet<QString> m_favorites;
    QSet<QString> m_clearedBuiltinFavorites;
    QStringList m_importedFiles; // in import order
    QSet<QString> m_importedFileSet;

    std::vector<RegistrationPreset> m_registrations;
};

} // namespace tmb
