#pragma once

// One compact JSON object whose keys stay in the order they were added (QJsonObject
// sorts them). Strings are escaped for any text: quotes, backslashes and control
// characters; the result is UTF-8. Numbers that are not finite are written as 0.

#include <QByteArray>
#include <QString>

namespace tmb {

class CompactJsonObject {
public:
    void add(const char* key, bool value);
    void add(const char* key, int value) { add(key, static_cast<long long>(value)); }
    void add(const char* key, long long value);
    // The shortest text that reads back as the same float ("120", "96.5").
    void add(const char* key, float value);
    void add(const char* key, const QString& value);

    // "{...}" with the members so far.
    QByteArray bytes() const { return m_body.isEmpty() ? QByteArrayLiteral("{}") : m_body + '}'; }

    static QByteArray quoted(const QString& text);

private:
    void addRaw(const char* key, const QByteArray& value);
    QByteArray m_body; // "{" and the members, without the closing brace
};

} // namespace tmb
