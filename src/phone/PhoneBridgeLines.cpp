#include "phone/PhoneBridgeLines.h"

namespace tmb {

QList<QByteArray> PhoneLineSplitter::feed(const QByteArray& chunk) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < chunk.size()) {
        const qsizetype end = chunk.indexOf('\n', start);
        const qsizetype stop = end < 0 ? chunk.size() : end;
        if (!m_discarding) {
            if (m_buffer.size() + (stop - start) > maxLineBytes) {
                m_buffer.clear();
                m_discarding = true;
            } else {
                m_buffer.append(chunk.constData() + start, stop - start);
            }
        }
        if (end < 0) break;
        if (!m_discarding) {
            const QByteArray line = m_buffer.trimmed();
            if (!line.isEmpty()) lines.append(line);
        }
        m_buffer.clear();
        m_discarding = false;
        start = end + 1;
    }
    return lines;
}

namespace {

using Kind = PhoneBridgeLine::Kind;

// "<id>|<rest>": both trimmed; false without a bar.
bool splitAtBar(const QString& text, QString* id, QString* rest) {
    const qsizetype bar = text.indexOf(u'|');
    if (bar < 0) return false;
    *id = text.left(bar).trimmed();
    *rest = text.mid(bar + 1).trimmed();
    return true;
}

} // namespace

PhoneBridgeLine parsePhoneBridgeLine(const QString& line) {
    struct Prefix {
        const char* text;
        Kind kind;
    };
    // Tested in this order; "ERR_HTTP:" is not a prefix of "ERR_HTTPS:".
    static constexpr Prefix prefixes[] = {{"QR_READY:", Kind::QrReady},    {"READY:", Kind::Ready},
                                          {"ERR_HTTP:", Kind::HttpFailed}, {"ERR_HTTPS:", Kind::HttpsFailed},
                                          {"CONN:", Kind::Connected},      {"MIC:", Kind::Mic},
                                          {"CAM:", Kind::Camera},          {"CMD:", Kind::Command}};
    PhoneBridgeLine parsed;
    for (const Prefix& prefix : prefixes) {
        const QLatin1StringView text(prefix.text);
        if (!line.startsWith(text)) continue;
        const QString rest = line.mid(text.size());
        switch (prefix.kind) {
        case Kind::QrReady:
        case Kind::Ready:
        case Kind::HttpFailed:
        case Kind::HttpsFailed:
            parsed.payload = rest.trimmed();
            parsed.kind = prefix.kind;
            return parsed;
        case Kind::Connected:
            // A request without an id is known by its address.
            if (!splitAtBar(rest, &parsed.id, &parsed.ip) || (parsed.id.isEmpty() && parsed.ip.isEmpty()))
                return parsed;
            break;
        case Kind::Mic:
        case Kind::Camera:
            if (!splitAtBar(rest, &parsed.id, &parsed.payload) || parsed.id.isEmpty() ||
                parsed.payload.isEmpty())
                return parsed;
            break;
        case Kind::Command: {
            QString tail;
            if (!splitAtBar(rest, &parsed.id, &tail) || !splitAtBar(tail, &parsed.ip, &parsed.payload) ||
                parsed.payload.isEmpty() || (parsed.id.isEmpty() && parsed.ip.isEmpty()))
                return parsed;
            break;
        }
        case Kind::Ignored:
            return parsed;
        }
        parsed.kind = prefix.kind;
        return parsed;
    }
    return parsed;
}

} // namespace tmb
