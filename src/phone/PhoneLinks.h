#pragma once

// The addresses and links of the phone bridge, and its per-run access token.

#include <QString>
#include <QStringList>

namespace tmb {

// 128 random bits as 32 hexadecimal digits, from the system's random source.
QString newPhoneAccessToken();

// The link a phone opens: `url` with "/?k=<token>". Only the QR code, the
// clipboard and the USB phone get it; what the window shows (and so a broadcast)
// never carries the token.
QString phoneLinkWithToken(const QString& url, const QString& token);

// The LAN address in the output of "hostname -I": the first word with a "." that
// starts with neither "127." nor "169.254."; "127.0.0.1" when there is none.
QString lanAddressFrom(const QString& hostnameOutput);

// The first "https://" link of a reverse-tunnel service in `text` (host made of
// letters, digits, ".", "_" and "-", ending in one of `domains`), or empty.
QString tunnelUrlIn(const QString& text, const QStringList& domains);
// The services' public domains the tunnel reader accepts.
QStringList defaultTunnelDomains();

// A host or address the user typed, as the public phone URL: a leading "http://"
// or "https://" goes, a given port stays ("https://%1"), otherwise ":8443" is
// added. Empty for an empty input or one that is not a plain host[:port].
QString customPublicHostUrl(const QString& hostOrIp);

} // namespace tmb
