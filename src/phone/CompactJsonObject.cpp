#include "phone/CompactJsonObject.h"

#include <charconv>
#include <cmath>

namespace tmb {

void CompactJsonObject::addRaw(const char* key, const QByteArray& value) {
    m_body += m_body.isEmpty() ? '{' : ',';
    m_body += quoted(QString::fromUtf8(key));
    m_body += ':';
    m_body += value;
}

void CompactJsonObject::add(const char* key, bool value) {
    addRaw(key, value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
}

void CompactJsonObject::add(const char* key, long long value) {
    addRaw(key, QByteArray::number(value));
}

void CompactJsonObject::add(const char* key, float value) {
    if (!std::isfinite(value)) value = 0.0f;
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    addRaw(key, QByteArray(text, static_cast<qsizetype>(result.ptr - text)));
}

void CompactJsonObject::add(const char* key, const QString& value) {
    addRaw(key, quoted(value));
}

QByteArray CompactJsonObject::quoted(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

} // namespace tmb
