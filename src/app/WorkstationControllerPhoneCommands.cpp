// Placeholder bodies so the phone bridge links; the phone command handling and the
// state object replace this file.

#include "WorkstationController.h"

namespace tmb {

QString WorkstationController::applyPhoneCommand(const QString&, const QString&, const QString&) {
    return {};
}

QByteArray WorkstationController::phoneStateJsonBytes() const {
    return QByteArrayLiteral("{}");
}

} // namespace tmb
