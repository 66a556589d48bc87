#pragma once

// The phones heard from through the bridge, in the order of their keys, with the
// labels the workstation gives them. GUI thread.

#include <QList>
#include <QMap>
#include <QString>

#include <functional>

namespace tmb {

struct PhonePeerInfo {
    QString id;            // the phone's self-chosen identifier
    QString label;         // "Phone #<n>"
    QString ip;            // the phone's address as the bridge saw it
    qint64 lastSeenMs = 0; // milliseconds since the epoch
};

class PhonePeers {
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    // A phone counts as connected while it was heard from this recently.
    static constexpr qint64 connectedWindowMs = 25000;
    // Ids are chosen by the phones: the table forgets phones silent this long and
    // keeps at most this many, so made-up ids cannot grow it without bound.
    static constexpr qint64 forgetAfterMs = 10 * 60 * 1000;
    static constexpr int maxPeers = 64;

    explicit PhonePeers(Clock clock = {});
    // Tests set the time by hand.
    void setClock(Clock clock);
    qint64 nowMs() const;

    // Registers a new phone (the next label) or touches a known one (new address,
    // seen now). The key is the trimmed id, or the trimmed address when the id is
    // empty; an empty key changes nothing and answers "Phone #1". Returns the label.
    // A new phone first makes room (see forgetAfterMs and maxPeers).
    QString registerOrTouch(const QString& id, const QString& ip);

    // A phone heard from again without its address (its audio or camera): seen now.
    void touch(const QString& id);

    int count() const { return static_cast<int>(m_peers.size()); }
    // The peers heard from within the connected window, in key order.
    QList<PhonePeerInfo> recent() const;
    // "Phone #1 (10.0.0.5) • Phone #2 (10.0.0.7)"; "1 Phone Connected" when none is recent.
    QString recentText() const;
    const QMap<QString, PhonePeerInfo>& all() const { return m_peers; }

private:
    void makeRoom(qint64 now);

    Clock m_clock;
    QMap<QString, PhonePeerInfo> m_peers;
    int m_nextLabel = 1;
};

} // namespace tmb
