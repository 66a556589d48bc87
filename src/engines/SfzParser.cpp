#include "SfzParser.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace tmb {

namespace {

enum class Header { Control, Global, Group, Region };

// Opcode values come from untrusted files: each number is held to a range in which
// every later computation stays finite.
constexpr double maxKeytrackCents = 1200.0;
constexpr double maxTuneCents = 9600.0;
constexpr double minVolumeDb = -144.0;
constexpr double maxVolumeDb = 48.0;
constexpr double maxReleaseSeconds = 100.0;
constexpr double maxRtDecayDb = 1000.0;

int clampInt(long long value, int low, int high) {
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

float clampFloat(double value, double low, double high) {
    return static_cast<float>(std::clamp(value, low, high));
}

int parseVelocity(QStringView text) {
    return clampInt(SfzParser::parseInteger(text), 0, 127);
}

// The header at `pos` (which holds '<'), or false; `end` is set past the '>'.
bool matchHeader(const QString& text, qsizetype pos, Header* header, qsizetype* end) {
    static const struct {
        QStringView name;
        Header header;
    } headers[] = {{u"control>", Header::Control},
                   {u"global>", Header::Global},
                   {u"group>", Header::Group},
                   {u"region>", Header::Region}};
    const QStringView rest = QStringView(text).sliced(pos + 1);
    for (const auto& h : headers) {
        if (rest.startsWith(h.name, Qt::CaseInsensitive)) {
            *header = h.header;
            *end = pos + 1 + h.name.size();
            return true;
        }
    }
    return false;
}

// "default_path=" followed by at least one non-space character, anywhere in the body.
QString findDefaultPath(QStringView body) {
    static constexpr QStringView key = u"default_path=";
    qsizetype from = 0;
    while (true) {
        const qsizetype at = body.indexOf(key, from, Qt::CaseInsensitive);
        if (at < 0) return {};
        const qsizetype start = at + key.size();
        qsizetype stop = start;
        while (stop < body.size() && !sfzdetail::isSpaceChar(body[stop]))
            ++stop;
        if (stop > start) return body.sliced(start, stop - start).toString().replace(u'\\', u'/');
        from = at + 1;
    }
}

} // namespace

QString SfzParser::joinLines(const QString& fileText) {
    QString joined;
    bool inBlockComment = false;
    qsizetype lineStart = 0;
    const qsizetype n = fileText.size();
    QString kept;
    while (lineStart <= n) {
        qsizetype lineEnd = fileText.indexOf(u'\n', lineStart);
        if (lineEnd < 0) lineEnd = n;
        const QStringView line = QStringView(fileText).sliced(lineStart, lineEnd - lineStart);
        kept.clear();
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (inBlockComment) {
                if (line[i] == u'*' && i + 1 < line.size() && line[i + 1] == u'/') {
                    inBlockComment = false;
                    ++i;
                }
                continue;
            }
            if (line[i] == u'/' && i + 1 < line.size()) {
                if (line[i + 1] == u'/') break;
                if (line[i + 1] == u'*') {
                    inBlockComment = true;
                    ++i;
                    continue;
                }
            }
            kept.append(line[i]);
        }
        const QStringView trimmed = QStringView(kept).trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(u'#')) {
            joined.append(trimmed);
            joined.append(u' ');
        }
        lineStart = lineEnd + 1;
    }
    return joined;
}

std::vector<SfzParsedRegion> SfzParser::parseRegions(const QString& text) {
    std::vector<SfzParsedRegion> regions;
    const SfzRegion defaults;
    SfzRegion global = defaults;
    SfzRegion group = defaults;
    QString defaultPath;

    qsizetype pos = text.indexOf(u'<');
    while (pos >= 0) {
        Header header{};
        qsizetype bodyStart = 0;
        if (!matchHeader(text, pos, &header, &bodyStart)) {
            pos = text.indexOf(u'<', pos + 1);
            continue;
        }
        qsizetype bodyEnd = text.indexOf(u'<', bodyStart);
        if (bodyEnd < 0) bodyEnd = text.size();
        const QStringView body = QStringView(text).sliced(bodyStart, bodyEnd - bodyStart);
        switch (header) {
        case Header::Control: {
            const QString path = findDefaultPath(body);
            if (!path.isEmpty()) defaultPath = path;
            break;
        }
        case Header::Global:
            applyOpcodes(body, &global, nullptr);
            group = global;
            break;
        case Header::Group:
            group = global;
            applyOpcodes(body, &group, nullptr);
            break;
        case Header::Region: {
            SfzParsedRegion parsed{group, {}};
            QString sample;
            applyOpcodes(body, &parsed.region, &sample);
            if (!sample.isEmpty()) {
                parsed.samplePath = defaultPath + sample;
                regions.push_back(std::move(parsed));
            }
            break;
        }
        }
        pos = bodyEnd < text.size() ? bodyEnd : -1;
    }
    return regions;
}

void SfzParser::applyOpcodes(QStringView body, SfzRegion* r, QString* sample) {
    forEachOpcode(body, [&](QStringView rawName, QStringView rawValue) {
        const QString name = rawName.toString().toLower();
        const QStringView value = rawValue.trimmed();
        if (name == u"sample") {
            if (sample != nullptr) *sample = value.toString().replace(u'\\', u'/');
        } else if (name == u"lokey") {
            r->lokey = parseNoteValue(value);
        } else if (name == u"hikey") {
            r->hikey = parseNoteValue(value);
        } else if (name == u"key") {
            r->lokey = r->hikey = r->pitchKeycenter = parseNoteValue(value);
        } else if (name == u"lovel") {
            r->lovel = parseVelocity(value);
        } else if (name == u"hivel") {
            r->hivel = parseVelocity(value);
        } else if (name == u"pitch_keycenter") {
            r->pitchKeycenter = parseNoteValue(value);
        } else if (name == u"pitch_keytrack") {
            r->pitchKeytrack = clampFloat(parseNumber(value), -maxKeytrackCents, maxKeytrackCents);
        } else if (name == u"tune") {
            r->tune = clampFloat(parseNumber(value), -maxTuneCents, maxTuneCents);
        } else if (name == u"volume") {
            r->volume = clampFloat(parseNumber(value), minVolumeDb, maxVolumeDb);
        } else if (name == u"amp_veltrack") {
            r->ampVeltrack = static_cast<float>(parseNumber(value));
        } else if (name == u"ampeg_release") {
            r->ampegRelease = clampFloat(parseNumber(value), 0.02, maxReleaseSeconds);
        } else if (name == u"rt_decay") {
            r->rtDecay = clampFloat(parseNumber(value), 0.0, maxRtDecayDb);
        } else if (name == u"trigger") {
            r->trigger = value.compare(u"release", Qt::CaseInsensitive) == 0 ? SfzTrigger::Release
                                                                             : SfzTrigger::Attack;
        } else if (name == u"on_locc64") {
            r->onLocc64 = clampInt(parseInteger(value), INT_MIN, INT_MAX);
            r->trigger = SfzTrigger::Pedal;
        } else if (name == u"on_hicc64") {
            r->onHicc64 = clampInt(parseInteger(value), INT_MIN, INT_MAX);
            r->trigger = SfzTrigger::Pedal;
        } else if (name == u"lorand") {
            r->lorand = static_cast<float>(parseNumber(value));
        } else if (name == u"hirand") {
            r->hirand = static_cast<float>(parseNumber(value));
        }
    });
}

long long SfzParser::parseInteger(QStringView text, bool* ok) {
    text = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) {
        if (ok) *ok = false;
        return 0;
    }
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') {
            if (ok) *ok = false;
            return 0;
        }
        // Saturate: enormous values clamp like large ones.
        if (value < LLONG_MAX / 10)
            value = value * 10 + (c - u'0');
        else
            value = LLONG_MAX;
    }
    if (ok) *ok = true;
    return negative ? -value : value;
}

double SfzParser::parseNumber(QStringView text) {
    text = text.trimmed();
    if (text.startsWith(u'+')) text = text.sliced(1);
    if (text.isEmpty() || text.size() > 64) return 0.0;
    char buffer[65];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        // Only plain decimal notation: no "inf", "nan" or hexadecimal.
        const bool allowed = (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'e' || c == u'E';
        if (!allowed) return 0.0;
        buffer[i] = static_cast<char>(c);
    }
    double value = 0.0;
    const char* end = buffer + text.size();
    const auto result = std::from_chars(buffer, end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return 0.0;
    return value;
}

int SfzParser::parseNoteValue(QStringView text) {
    text = text.trimmed();
    bool isInteger = false;
    const long long integer = parseInteger(text, &isInteger);
    if (isInteger) return clampInt(integer, -1, 127);

    const QString upper = text.toString().toUpper();
    if (upper.isEmpty()) return 60;
    static constexpr int letterValues[] = {9, 11, 0, 2, 4, 5, 7}; // A..G
    const char16_t letter = upper[0].unicode();
    if (letter < u'A' || letter > u'G') return 60;
    int note = letterValues[letter - u'A'];
    qsizetype i = 1;
    if (i < upper.size() && upper[i] == u'#') {
        ++note;
        ++i;
    } else if (i < upper.size() && upper[i] == u'B') {
        --note;
        ++i;
    }
    bool octaveOk = false;
    long long octave = parseInteger(QStringView(upper).sliced(i), &octaveOk);
    if (!octaveOk) octave = 4;
    octave = std::clamp<long long>(octave, -100, 100);
    return clampInt(12 * (octave + 1) + note, 0, 127);
}

} // namespace tmb
