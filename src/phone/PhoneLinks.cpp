#include "phone/PhoneLinks.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <array>

namespace tmb {

QString newPhoneAccessToken() {
    std::array<quint32, 4> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words.data()), sizeof(words)).toHex());
}

QString phoneLinkWithToken(const QString& url, const QString& token) {
    QString base = url;
    while (base.endsWith(u'/'))
        base.chop(1);
    return base + QStringLiteral("/?k=") + token;
}

QString lanAddressFrom(const QString& hostnameOutput) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    for (const QString& word : hostnameOutput.split(space, Qt::SkipEmptyParts)) {
        if (word.contains(u'.') && !word.startsWith(QLatin1String("127.")) &&
            !word.startsWith(QLatin1String("169.254.")))
            return word.trimmed();
    }
    return QStringLiteral("127.0.0.1");
}

QStringList defaultTunnelDomains() {
    return {QStringLiteral("lhr.life"), QStringLiteral("localhost.run"), QStringLiteral("serveo.net"),
            QStringLiteral("serveousercontent.com"), QStringLiteral("trycloudflare.com")};
}

QString tunnelUrlIn(const QString& text, const QStringList& domains) {
    static const QRegularExpression link(QStringLiteral("https://([A-Za-z0-9._-]+)"));
    for (auto match = link.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        const QString host = found.captured(1).toLower();
        for (const QString& domain : domains) {
            if (host == domain || host.endsWith(u'.' + domain)) return found.captured(0);
        }
    }
    return {};
}

QString customPublicHostUrl(const QString& hostOrIp) {
    QString host = hostOrIp.trimmed();
    for (const QLatin1StringView scheme : {QLatin1StringView("http://"), QLatin1StringView("https://")}) {
        if (host.startsWith(scheme, Qt::CaseInsensitive)) {
            host = host.mid(scheme.size());
            break;
        }
    }
    while (host.endsWith(u'/'))
        host.chop(1);
    // Only a host name or address with an optional port: the text ends up in a
    // link the phones open and in the QR code.
    static const QRegularExpression plain(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+)(:[0-9]{1,5})?$"));
    const QRegularExpressionMatch match = plain.match(host);
    if (!match.hasMatch()) return {};
    return match.capturedLength(2) > 0 ? QStringLiteral("https://%1").arg(host)
                                       : QStringLiteral("https://%1:8443").arg(host);
}

} // namespace tmb
