#pragma once

// The SFZ text reader: headers, opcodes and note names of the subset the piano
// plays. Pure functions on text, used by the loader thread (and the fuzz target).
//
// Not supported: #define, #include and block comments. Directive lines are
// dropped and block-commented text is skipped, so neither can change a region.

#include "engines/SfzRegion.h"

#include <QString>
#include <QStringView>

#include <vector>

namespace tmb {

// A region as written, before its sample is read.
struct SfzParsedRegion {
    SfzRegion region;   // region.sample stays null
    QString samplePath; // default path + the region's own `sample`, with "/" separators
};

class SfzParser {
public:
    // Cuts each line at "//", drops directive lines and block comments, trims, and
    // joins the non-empty lines with one space each.
    static QString joinLines(const QString& fileText);

    // Walks the headers of joined text. Regions without their own `sample` are dropped.
    static std::vector<SfzParsedRegion> parseRegions(const QString& joinedText);

    // Applies every recognised opcode of one header body to `region`; a `sample`
    // opcode is stored in *sample when that is given.
    static void applyOpcodes(QStringView body, SfzRegion* region, QString* sample);

    // Splits a header body into name=value pairs; a value may hold spaces up to the
    // next "name=". Calls sink(name, value) for each pair in order.
    template <typename Sink>
    static void forEachOpcode(QStringView body, Sink&& sink);

    // A key value: an integer (clamped to -1..127) or a note name such as c#4 or eb3.
    static int parseNoteValue(QStringView text);
    // Whole-text integer, saturated; `ok` false (and 0) when the text is not one.
    static long long parseInteger(QStringView text, bool* ok = nullptr);
    // Whole-text decimal number; 0 when malformed, not finite or out of range.
    static double parseNumber(QStringView text);
};

namespace sfzdetail {
inline bool isWordChar(QChar c) noexcept {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
}
inline bool isSpaceChar(QChar c) noexcept {
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f' || u == '\v';
}
} // namespace sfzdetail

template <typename Sink>
void SfzParser::forEachOpcode(QStringView body, Sink&& sink) {
    using sfzdetail::isSpaceChar;
    using sfzdetail::isWordChar;
    const qsizetype n = body.size();
    qsizetype from = 0;
    while (from < n) {
        const qsizetype equals = body.indexOf(u'=', from);
        if (equals < 0) return;
        qsizetype nameStart = equals;
        while (nameStart > from && isWordChar(body[nameStart - 1]))
            --nameStart;
        // The first value token runs to the next space or "=".
        qsizetype valueEnd = equals + 1;
        while (valueEnd < n && !isSpaceChar(body[valueEnd]) && body[valueEnd] != u'=')
            ++valueEnd;
        if (nameStart == equals || valueEnd == equals + 1) {
            from = equals + 1;
            continue;
        }
        // Further tokens join the value unless the next one starts a "name=".
        for (;;) {
            qsizetype next = valueEnd;
            while (next < n && isSpaceChar(body[next]))
                ++next;
            if (next == valueEnd || next == n) break;
            qsizetype word = next;
            while (word < n && isWordChar(body[word]))
                ++word;
            if (word > next && word < n && body[word] == u'=') break;
            qsizetype tokenEnd = next;
            while (tokenEnd < n && !isSpaceChar(body[tokenEnd]) && body[tokenEnd] != u'=')
                ++tokenEnd;
            if (tokenEnd == next) break;
            valueEnd = tokenEnd;
        }
        sink(body.sliced(nameStart, equals - nameStart), body.sliced(equals + 1, valueEnd - equals - 1));
        from = valueEnd;
    }
}

} // namespace tmb
