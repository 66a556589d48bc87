#pragma once

// The small text rules of the phone commands and the state the phones read:
// arguments as the page sends them (hostile text: anything unparsable is 0, no
// overflow, no NaN), the signed numbers, key and corner labels and the rounded
// volume percentages.

#include <QString>
#include <QStringView>

#include <optional>

namespace tmb::phone {

// A base-10 integer with an optional sign; surrounding blanks allowed. Unparsable
// text is 0; values beyond int saturate at its limits.
int parseInteger(QStringView text);

// A floating-point number ("75", "-2.5", "1e2"). Unparsable text is 0; nan, inf
// (which Qt's toDouble accepts) and numbers beyond double ("1e400") give no value:
// such a command changes nothing.
std::optional<double> parseNumber(QStringView text);

// A percentage rounded half away from zero, bounded to +-1000000 first so that huge
// values neither overflow nor flood the summary.
long long roundedPercent(double percent);

// "+3", "+0", "-2": a sign for zero and positive values, as the keyboard shows them.
QString signedNumber(int value);

// "C (+0)", "Bb (-2)", "D (+14)": the key a transposition plays in.
QString keyLabel(int transposeSemitones);

// "BR", "BL", "TR", "TL" for picture-in-picture corners 0 to 3 (others clamped).
QString pipCornerLabel(int corner);

} // namespace tmb::phone
