#pragma once

// The library of imported style files. It keeps three places in step: the
// sequencer's imported styles, the user style folder (a copy of every imported
// file) and the catalogue table "sty_beats_catalog" (each file's settings and
// bytes). Start-up rebuilds the styles from the table and the folder, writing the
// sample files of twelve built-in styles first; imports take single files, lists,
// folders, zip archives (unpacked by `unzip` into a private folder) and the files
// of USB flash disks.
//
// Nothing imported overwrites another file: a file of the same name with other
// bytes is stored under a free name ("Pop (2).sty"). Links are never followed out
// of archives, drives or folders, and nothing is written through a link in the
// user style folder. Copies are written atomically.
//
// Threads: GUI thread only; the `unzip` run is waited for.

#include "rhythm/BeatSequencer.h"
#include "storage/ProjectManager.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

namespace tmb {

// The platform's generic writable data folder + "/Tembora/UserStyles".
QString userStyStorageDir();

struct StyleLibraryOptions {
    QString userFolder = userStyStorageDir();
    // Put in front of "/run/media/<user>", "/media/<user>" and "/mnt"; the
    // environment variable TEMBORA_MEDIA_ROOT sets it for tests.
    QString mediaRoot = qEnvironmentVariable("TEMBORA_MEDIA_ROOT");
    QString unzipProgram = QStringLiteral("unzip");
    int unzipTimeoutMs = 15000;
};

class StyleLibrary {
public:
    // Sample style files: (file name, built-in style index).
    struct Sample {
        const char* fileName;
        int builtinIndex;
    };
    static const Sample samples[12];
    static constexpr int folderBatchSize = 2000;
    static constexpr int usbFileLimit = 150;

    StyleLibrary(BeatSequencer& sequencer, ProjectManager& projects,
                 StyleLibraryOptions options = StyleLibraryOptions());

    QString userFolder() const { return m_options.userFolder; }
    // The last library status line.
    QString statusText() const { return m_statusText; }
    // The imported style last added by an import, or -1.
    int lastImportedIndex() const { return m_lastImported; }

    // Samples, then the stored styles (restoring missing copies from their bytes),
    // then loose files of the user style folder.
    void rebuildAtStartup();
    // Files, folders and zip archives ("file://" URLs or paths); returns how many
    // styles were imported.
    int importFiles(const QStringList& urlsOrPaths);
    int importFolder(const QString& folderUrlOrPath);
    // Style files of mounted drives, then of the user style folder, 150 at most.
    int scanUsbFlashDisk();
    // The first folder of the first media root that holds one; empty when none.
    QString detectedFlashDiskPath() const;
    bool removeStyle(int styleIndex);
    void clearAll();

private:
    struct Taken;
    QStringList mediaRoots(bool withMnt) const;
    void collect(const QString& path, QStringList& files, Taken& taken);
    bool runUnzip(const QStringList& arguments, const QDeadlineTimer& deadline, QByteArray* output) const;
    bool unpackArchive(const QString& archive, QStringList& files, Taken& taken);
    QString storeCopy(const QString& source, const QByteArray& bytes);
    int importCollected(const QStringList& files);
    bool importAsRecord(const QString& source, const QString& copy, const QByteArray& bytes,
                        std::vector<StyDatabaseRecord>& records);
    bool insideUserFolder(const QString& path) const;

    BeatSequencer& m_sequencer;
    ProjectManager& m_projects;
    StyleLibraryOptions m_options;
    QString m_statusText;
    QString m_unpackFailure;      // the archive that could not be unpacked in this import
    QStringList m_refusedMembers; // archive members of this import that would leave their folder
    int m_lastImported = -1;
};

} // namespace tmb
