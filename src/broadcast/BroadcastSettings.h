#pragma once

// What the broadcast drawer holds: the stream targets and keys, local recording,
// the watermark texts, and the rules that turn pasted text into stream keys and
// keys into RTMP addresses. Plain data; the controller publishes it.

#include <QList>
#include <QString>

namespace tmb {

struct StreamTarget {
    QString name; // shown to the user: "YouTube Live"
    QString url;  // where the encoder sends it
};

struct BroadcastSettings {
    // The settings store of broadcasting (organization "Sandorik", application "Tembora").
    static constexpr const char* youtubeKeySetting = "broadcast/youtubeKey";
    static constexpr const char* facebookKeySetting = "broadcast/facebookKey";
    static constexpr const char* tiktokUrlSetting = "broadcast/tiktokUrl";
    static constexpr const char* tiktokKeySetting = "broadcast/tiktokKey";
    static constexpr const char* watermarkEnabledSetting = "broadcast/watermarkEnabled";
    static constexpr const char* watermarkTextSetting = "broadcast/watermarkText";
    static constexpr const char* watermarkSubtextSetting = "broadcast/watermarkSubtext";
    static const QString defaultWatermarkText;
    static const QString defaultWatermarkSubtext;

    bool youtubeEnabled = false;
    bool facebookEnabled = false;
    bool tiktokEnabled = false;
    QString youtubeKey;
    QString facebookKey;
    QString tiktokKey;
    QString tiktokUrl = defaultTiktokUrl();
    bool recordMp4 = true;
    bool watermarkEnabled = false;
    QString watermarkText = QStringLiteral("Sandorik Kenya");
    QString watermarkSubtext = QStringLiteral("LIVE STAGE WORKSTATION • PRAISE & WORSHIP");

    // Reads the stored values (a target is on when its key is stored) and writes
    // back the cleaned ones, or the defaults where nothing was stored.
    void loadAndWriteBack();
    static void store(const char* key, const QString& value);
    static void store(const char* key, bool value);

    // The ingest addresses. Each can be pointed elsewhere (scheme, host and port)
    // with an environment variable: TEMBORA_YOUTUBE_INGEST, TEMBORA_FACEBOOK_INGEST,
    // TEMBORA_TIKTOK_INGEST (the TikTok default URL, which the user may change).
    static QString youtubeIngest();
    static QString facebookIngest();
    static QString defaultTiktokUrl();

    // The enabled targets with a key, in the order YouTube, Facebook, TikTok. A
    // TikTok URL that is not an rtmp:// or rtmps:// address is no target.
    QList<StreamTarget> targets() const;
};

// A pasted stream key, cleaned: trimmed; from a full ingest URL only what follows
// its last "/live2/", "/rtmp/" or "/live/" (without a "?backup" query); a bare
// server address ("rtmp://...", "http://...") is no key at all: the result is
// empty and `wasUrl` is set.
QString sanitizeStreamKeyValue(const QString& text, bool* wasUrl = nullptr);

// Clipboard text that is taken as a YouTube key when none is set: four-character
// groups joined by dashes ("abcd-1234-efgh-5678"), or an ingest URL with "/live2/".
bool looksLikeYoutubeKey(const QString& text);

// "mm:ss" of whole seconds (minutes grow past 99).
QString formatElapsed(qint64 seconds);

} // namespace tmb
