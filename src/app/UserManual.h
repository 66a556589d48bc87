#pragma once

// Where the user manual PDF (with the licence) is opened from: an installed copy,
// else a copy of the one in the program's resources, written once into the data
// folder.

#include <QString>

namespace tmb::UserManual {

inline constexpr char fileName[] = "Tembora_User_Manual.pdf";
inline constexpr char resourcePath[] = ":/docs/Tembora_User_Manual.pdf";

// The installed copy under the data directories ("doc/tembora/" + fileName), else
// `dataFolder` + "/" + fileName, written atomically from the resources when missing
// (a copy already there is kept). Empty, with `error` set, when neither exists
// and the copy cannot be written.
QString locate(const QString& dataFolder, QString* error);

} // namespace tmb::UserManual
