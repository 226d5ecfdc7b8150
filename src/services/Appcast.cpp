#include "services/Appcast.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

namespace varlo {

namespace {

const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

struct Enclosure
{
    QString url;
    QString version;
    QString shortVersion;
};

QString text(QXmlStreamReader& reader)
{
    return reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
}

// Only web pages are offered to the user; a feed must not be able to open
// local files or hand a URL to some other scheme handler.
QUrl webPage(const QString& link, const QUrl& baseUrl)
{
    if (link.isEmpty())
        return {};
    const QUrl url = baseUrl.resolved(QUrl(link));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return url;
}

void parseItem(QXmlStreamReader& reader, const QUrl& baseUrl, Appcast& feed)
{
    QString version, shortVersion, link, releaseNotes, fullReleaseNotes, channel;
    QList<Enclosure> enclosures;
    bool sawEnclosure = false;

    while (reader.readNextStartElement()) {
        const QStringView name = reader.name();
        if (reader.namespaceUri() == sparkleNamespace) {
            if (name == QLatin1String("version"))
                version = text(reader);
            else if (name == QLatin1String("shortVersionString"))
                shortVersion = text(reader);
            else if (name == QLatin1String("releaseNotesLink"))
                releaseNotes = text(reader);
            else if (name == QLatin1String("fullReleaseNotesLink"))
                fullReleaseNotes = text(reader);
            else if (name == QLatin1String("channel"))
                channel = text(reader);
            else
                reader.skipCurrentElement();
        } else if (reader.namespaceUri().isEmpty() && name == QLatin1String("link")) {
            link = text(reader);
        } else if (reader.namespaceUri().isEmpty() && name == QLatin1String("enclosure")) {
            sawEnclosure = true;
            const QXmlStreamAttributes attributes = reader.attributes();
            const QString os = attributes.value(sparkleNamespace, QLatin1String("os")).trimmed().toString();
            if (os.isEmpty() || os.compare(QLatin1String("linux"), Qt::CaseInsensitive) == 0)
                enclosures.append(
                    {attributes.value(QLatin1String("url")).trimmed().toString(),
                     attributes.value(sparkleNamespace, QLatin1String("version")).trimmed().toString(),
                     attributes.value(sparkleNamespace, QLatin1String("shortVersionString"))
                         .trimmed()
                         .toString()});
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError())
        return;

    // Releases on a named channel (betas) and builds for other systems are not ours.
    if (!channel.isEmpty() || (sawEnclosure && enclosures.isEmpty()))
        return;
    const Enclosure enclosure = enclosures.value(0);
    if (version.isEmpty())
        version = enclosure.version;
    if (shortVersion.isEmpty())
        shortVersion = enclosure.shortVersion;
    if (version.isEmpty()) {
        ++feed.itemsWithoutVersion;
        return;
    }

    QUrl page;
    for (const QString& candidate : {link, enclosure.url, fullReleaseNotes, releaseNotes}) {
        page = webPage(candidate, baseUrl);
        if (!page.isEmpty())
            break;
    }
    feed.items.append({version, shortVersion, page});
}

} // namespace

Appcast Appcast::parse(const QByteArray& xml, const QUrl& baseUrl)
{
    Appcast feed;
    QXmlStreamReader reader(xml);
    bool sawChannel = false;

    if (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("rss") || !reader.namespaceUri().isEmpty()) {
            feed.error = QCoreApplication::translate("Appcast", "The update feed is not an RSS feed.");
            return feed;
        }
        while (reader.readNextStartElement()) {
            if (reader.name() == QLatin1String("channel") && reader.namespaceUri().isEmpty()) {
                sawChannel = true;
                while (reader.readNextStartElement()) {
                    if (reader.name() == QLatin1String("item") && reader.namespaceUri().isEmpty())
                        parseItem(reader, baseUrl, feed);
                    else
                        reader.skipCurrentElement();
                }
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    // Read to the end so that a truncated or corrupt tail is noticed too.
    while (!reader.atEnd())
        reader.readNext();

    if (reader.hasError()) {
        feed.items.clear();
        QString reason = reader.errorString().trimmed();
        if (reason.endsWith(QLatin1Char('.')))
            reason.chop(1);
        feed.error = QCoreApplication::translate("Appcast", "The update feed is not valid XML: %1 (line %2).")
                         .arg(reason)
                         .arg(reader.lineNumber());
    } else if (!sawChannel) {
        feed.error = QCoreApplication::translate("Appcast", "The update feed has no channel.");
    }
    return feed;
}

} // namespace varlo
