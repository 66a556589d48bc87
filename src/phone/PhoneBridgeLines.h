#pragma once

// The bridge script's standard output, cut into lines and read. The script is our
// own, but what it prints carries text the phones chose: lines are bounded and
// every field is checked before use. GUI thread.

#include <QByteArray>
#include <QList>
#include <QString>

namespace tmb {

// Collects output chunks and hands back the complete, trimmed, non-empty lines.
// A line longer than maxLineBytes is dropped whole, however it arrives.
class PhoneLineSplitter {
public:
    static constexpr qsizetype maxLineBytes = 64 * 1024;

    QList<QByteArray> feed(const QByteArray& chunk);
    // The unfinished line (at most maxLineBytes), for tests.
    qsizetype pendingBytes() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    bool m_discarding = false; // inside an over-long line, until its end
};

struct PhoneBridgeLine {
    enum class Kind { Ignored, QrReady, Ready, HttpFailed, HttpsFailed, Connected, Mic, Camera, Command };
    Kind kind = Kind::Ignored;
    QString id;      // the phone's identifier (Connected, Mic, Camera, Command)
    QString ip;      // its address (Connected, Command)
    QString payload; // the path, port, error, base64 audio, frame number or command
};

// One line, by its prefix: "QR_READY:", "READY:", "ERR_HTTP:", "ERR_HTTPS:", "CONN:",
// "MIC:", "CAM:", "CMD:". Lines without the bars or the parts their kind needs are
// Ignored.
PhoneBridgeLine parsePhoneBridgeLine(const QString& line);

} // namespace tmb
