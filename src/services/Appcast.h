#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

namespace varlo {

// One release listed in a Sparkle-style RSS appcast.
struct AppcastItem
{
    QString version;      // sparkle:version, compared with the running version
    QString shortVersion; // sparkle:shortVersionString, shown to the user; may be empty
    QUrl pageUrl;         // http(s) page to open for this release; may be empty
};

// The releases of an appcast that apply to this system: items on a named
// channel or whose enclosures all name another operating system are left out.
struct Appcast
{
    QList<AppcastItem> items;
    int itemsWithoutVersion = 0;
    QString error; // set when the feed is not a readable appcast

    // Relative links resolve against `baseUrl`; only http and https links are kept.
    static Appcast parse(const QByteArray& xml, const QUrl& baseUrl);
};

} // namespace varlo
