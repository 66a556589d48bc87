#include "phone/PhoneCommandText.h"

#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cmath>

namespace tmb::phone {

int parseInteger(QStringView text) {
    text = text.trimmed();
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty()) return 0;
    long long magnitude = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') return 0;
        // Past int's range the value only saturates; stop growing it.
        if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (c.unicode() - u'0');
    }
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::optional<double> parseNumber(QStringView text) {
    text = text.trimmed();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok) return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    // A well-formed number Qt refuses lies beyond double ("1e400"): as good as infinite.
    static const QRegularExpression wellFormed(
        QStringLiteral("^[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][+-]?[0-9]+)?$"));
    return wellFormed.match(text).hasMatch() ? std::nullopt : std::optional<double>(0.0);
}

long long roundedPercent(double percent) {
    return std::llround(std::clamp(percent, -1.0e6, 1.0e6));
}

QString signedNumber(int value) {
    return value >= 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
}

QString keyLabel(int transposeSemitones) {
    static const char* const names[] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    const int pitchClass = ((transposeSemitones % 12) + 12) % 12;
    return QStringLiteral("%1 (%2)").arg(QLatin1String(names[pitchClass]), signedNumber(transposeSemitones));
}

QString pipCornerLabel(int corner) {
    static const char* const labels[] = {"BR", "BL", "TR", "TL"};
    return QLatin1String(labels[std::clamp(corner, 0, 3)]);
}

} // namespace tmb::phone
