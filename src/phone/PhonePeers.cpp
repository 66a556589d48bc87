#include "phone/PhonePeers.h"

#include <QDateTime>
#include <QStringList>

namespace tmb {

PhonePeers::PhonePeers(Clock clock) {
    setClock(std::move(clock));
}

void PhonePeers::setClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock([] { return QDateTime::currentMSecsSinceEpoch(); });
}

qint64 PhonePeers::nowMs() const {
    return m_clock();
}

QString PhonePeers::registerOrTouch(const QString& id, const QString& ip) {
    const QString trimmedId = id.trimmed();
    const QString key = trimmedId.isEmpty() ? ip.trimmed() : trimmedId;
    if (key.isEmpty()) return QStringLiteral("Phone #1");
    auto found = m_peers.find(key);
    if (found == m_peers.end()) {
        makeRoom(nowMs());
        PhonePeerInfo peer{trimmedId, QStringLiteral("Phone #%1").arg(m_nextLabel++), ip.trimmed(), nowMs()};
        found = m_peers.insert(key, peer);
    } else {
        found->ip = ip.trimmed();
        found->lastSeenMs = nowMs();
    }
    return found->label;
}

void PhonePeers::touch(const QString& id) {
    const auto found = m_peers.find(id.trimmed());
    if (found == m_peers.end())
        registerOrTouch(id, QString());
    else
        found->lastSeenMs = nowMs();
}

void PhonePeers::makeRoom(qint64 now) {
    m_peers.removeIf([now](const auto& entry) { return now - entry.value().lastSeenMs >= forgetAfterMs; });
    while (m_peers.size() >= maxPeers) {
        auto oldest = m_peers.begin();
        for (auto it = m_peers.begin(); it != m_peers.end(); ++it)
            if (it->lastSeenMs < oldest->lastSeenMs) oldest = it;
        m_peers.erase(oldest);
    }
}

QList<PhonePeerInfo> PhonePeers::recent() const {
    const qint64 now = nowMs();
    QList<PhonePeerInfo> list;
    for (const PhonePeerInfo& peer : m_peers)
        if (now - peer.lastSeenMs < connectedWindowMs) list.append(peer);
    return list;
}

QString PhonePeers::recentText() const {
    QStringList parts;
    for (const PhonePeerInfo& peer : recent())
        parts.append(QStringLiteral("%1 (%2)").arg(peer.label, peer.ip));
    return parts.isEmpty() ? QStringLiteral("1 Phone Connected") : parts.join(QStringLiteral(" • "));
}

} // namespace tmb
