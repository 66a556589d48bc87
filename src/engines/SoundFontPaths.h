#pragma once

#include <QString>
#include <QStringList>

namespace tmb {

// The names under which the workstation refers to its General MIDI SoundFont.
inline constexpr char gmSoundFontPath[] = "/usr/share/soundfonts/FluidR3_GM.sf2";
inline constexpr char defaultSoundFontPath[] = "/usr/share/soundfonts/default.sf2";
// The folder those names live in.
inline constexpr char soundFontFolder[] = "/usr/share/soundfonts";

// Maps a SoundFont named in the SoundFont folder to the file that exists: the
// search folders are tried in order (by default that folder itself, then Debian's
// "/usr/share/sounds/sf2"); in each, "default.sf2" may also be found as
// "default-GM.sf2". Paths in any other folder come back unchanged, and so does a
// name found nowhere, so that the caller's own existence check reports it.
// Any thread.
QString resolveSoundFontPath(const QString& path);

// Looks for a SoundFont by file name in `folders`, in order; "default.sf2" may also
// be found as "default-GM.sf2". The absolute path, or empty when no folder has it.
// Any thread.
QString findSoundFontFile(const QString& fileName, const QStringList& folders);

// The folders resolveSoundFontPath searches. Tests point them at temporary
// folders; an empty list restores the defaults. Any thread.
void setSoundFontSearchFolders(const QStringList& folders);
QStringList soundFontSearchFolders();

} // namespace tmb
