#include "broadcast/BroadcastSettings.h"

#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace tmb {

const QString BroadcastSettings::defaultWatermarkText = QStringLiteral("Sandorik");
const QString BroadcastSettings::defaultWatermarkSubtext =
    QStringLiteral("www.sandorik.org • Live Keyboard Workstation");

namespace {

QSettings openSettings() {
    return QSettings(QStringLiteral("Sandorik"), QStringLiteral("Tembora"));
}

QString ingest(const char* variable, const char* fallback) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

bool isRtmpAddress(const QString& url) {
    return url.startsWith(QLatin1String("rtmp://"), Qt::CaseInsensitive) ||
           url.startsWith(QLatin1String("rtmps://"), Qt::CaseInsensitive);
}

} // namespace

QString sanitizeStreamKeyValue(const QString& text, bool* wasUrl) {
    const auto isAddress = [](const QString& value) {
        for (const QLatin1String scheme : {QLatin1String("rtmp://"), QLatin1String("rtmps://"),
                                           QLatin1String("http://"), QLatin1String("https://")}) {
            if (value.startsWith(scheme, Qt::CaseInsensitive)) return true;
        }
        return false;
    };
    const QString trimmed = text.trimmed();
    QString key = trimmed;
    qsizetype cut = -1;
    for (const QLatin1String marker :
         {QLatin1String("/live2/"), QLatin1String("/rtmp/"), QLatin1String("/live/")}) {
        const qsizetype at = key.lastIndexOf(marker);
        if (at >= 0) cut = std::max(cut, at + marker.size());
    }
    if (cut >= 0) {
        key = key.mid(cut).trimmed();
        if (key.endsWith(QLatin1String("?backup"), Qt::CaseInsensitive)) key.chop(7);
    }
    // A server address ending in its marker ("rtmp://host/live2/") holds no key either.
    const bool url = isAddress(key) || (key.isEmpty() && isAddress(trimmed));
    if (wasUrl) *wasUrl = url;
    return url ? QString() : key;
}

bool looksLikeYoutubeKey(const QString& text) {
    static const QRegularExpression groups(QStringLiteral("^[A-Za-z0-9]{4}(-[A-Za-z0-9]{4}){3,4}$"));
    return groups.match(text).hasMatch() || text.contains(QLatin1String("/live2/"));
}

QString formatElapsed(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 0);
    return QStringLiteral("%1:%2")
        .arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString BroadcastSettings::youtubeIngest() {
    return ingest("TEMBORA_YOUTUBE_INGEST", "rtmp://a.rtmp.youtube.com");
}

QString BroadcastSettings::facebookIngest() {
    return ingest("TEMBORA_FACEBOOK_INGEST", "rtmps://live-api-s.facebook.com:443");
}

QString BroadcastSettings::defaultTiktokUrl() {
    return ingest("TEMBORA_TIKTOK_INGEST", "rtmp://push.tiktokcdn.com/live/");
}

void BroadcastSettings::loadAndWriteBack() {
    QSettings settings = openSettings();
    const auto text = [&settings](const char* key) {
        return settings.value(QLatin1String(key)).toString();
    };
    youtubeKey = sanitizeStreamKeyValue(text(youtubeKeySetting));
    facebookKey = sanitizeStreamKeyValue(text(facebookKeySetting));
    tiktokKey = sanitizeStreamKeyValue(text(tiktokKeySetting));
    tiktokUrl = text(tiktokUrlSetting).trimmed();
    if (tiktokUrl.isEmpty()) tiktokUrl = defaultTiktokUrl();
    youtubeEnabled = !youtubeKey.isEmpty();
    facebookEnabled = !facebookKey.isEmpty();
    tiktokEnabled = !tiktokKey.isEmpty();
    watermarkEnabled = settings.value(QLatin1String(watermarkEnabledSetting), watermarkEnabled).toBool();
    watermarkText = settings.value(QLatin1String(watermarkTextSetting), defaultWatermarkText).toString();
    watermarkSubtext =
        settings.value(QLatin1String(watermarkSubtextSetting), defaultWatermarkSubtext).toString();

    settings.setValue(QLatin1String(youtubeKeySetting), youtubeKey);
    settings.setValue(QLatin1String(facebookKeySetting), facebookKey);
    settings.setValue(QLatin1String(tiktokKeySetting), tiktokKey);
    settings.setValue(QLatin1String(tiktokUrlSetting), tiktokUrl);
    settings.setValue(QLatin1String(watermarkEnabledSetting), watermarkEnabled);
    settings.setValue(QLatin1String(watermarkTextSetting), watermarkText);
    settings.setValue(QLatin1String(watermarkSubtextSetting), watermarkSubtext);
}

void BroadcastSettings::store(const char* key, const QString& value) {
    openSettings().setValue(QLatin1String(key), value);
}

void BroadcastSettings::store(const char* key, bool value) {
    openSettings().setValue(QLatin1String(key), value);
}

QList<StreamTarget> BroadcastSettings::targets() const {
    QList<StreamTarget> list;
    if (youtubeEnabled && !youtubeKey.isEmpty())
        list.append(
            {QStringLiteral("YouTube Live"), youtubeIngest() + QStringLiteral("/live2/") + youtubeKey});
    if (facebookEnabled && !facebookKey.isEmpty())
        list.append(
            {QStringLiteral("Facebook Live"), facebookIngest() + QStringLiteral("/rtmp/") + facebookKey});
    if (tiktokEnabled && !tiktokKey.isEmpty() && isRtmpAddress(tiktokUrl)) {
        const QString separator = tiktokUrl.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
        list.append({QStringLiteral("TikTok Live"), tiktokUrl + separator + tiktokKey});
    }
    return list;
}

} // namespace tmb
