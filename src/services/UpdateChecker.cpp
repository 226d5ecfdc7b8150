#include "services/UpdateChecker.h"

#include "services/Appcast.h"
#include "services/VersionComparator.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <memory>
#include <qcoro/qcoronetworkreply.h>
#include <qcoro/qcorotimer.h>

namespace varlo {

namespace {

constexpr qsizetype maxDisplayLength = 40;
constexpr qsizetype maxReasonLength = 80;

QString tr(const char* text)
{
    return QCoreApplication::translate("UpdateChecker", text);
}

// Text from the feed or the server, made fit for a one-line label.
QString displayText(const QString& raw, qsizetype limit)
{
    QString clean;
    for (const QChar c : raw.simplified()) {
        if (c.isPrint())
            clean += c;
        if (clean.size() > limit)
            break;
    }
    if (clean.size() > limit)
        clean = clean.left(limit - 1) + QChar(0x2026);
    return clean;
}

QString seconds(std::chrono::milliseconds duration)
{
    return QLocale().toString(static_cast<double>(duration.count()) / 1000.0, 'g', 3);
}

} // namespace

UpdateCheckResult UpdateCheckResult::failed(QString reason)
{
    UpdateCheckResult result;
    result.outcome = Outcome::Failed;
    result.error = std::move(reason);
    return result;
}

bool UpdateChecker::isSupportedFeedUrl(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    return QHostAddress(url.host()).isLoopback();
}

UpdateCheckResult UpdateChecker::evaluate(const QByteArray& feed, const QUrl& feedUrl,
                                          const QString& currentVersion)
{
    const Appcast appcast = Appcast::parse(feed, feedUrl);
    if (!appcast.error.isEmpty())
        return UpdateCheckResult::failed(appcast.error);
    if (appcast.items.isEmpty() && appcast.itemsWithoutVersion > 0)
        return UpdateCheckResult::failed(tr("The update feed names no version numbers."));

    const AppcastItem* newest = nullptr;
    for (const AppcastItem& item : appcast.items) {
        if (!newest || VersionComparator::compare(item.version, newest->version) > 0)
            newest = &item;
    }

    UpdateCheckResult result;
    if (newest && VersionComparator::compare(newest->version, currentVersion) > 0) {
        result.outcome = UpdateCheckResult::Outcome::UpdateAvailable;
        result.version = newest->version;
        result.displayVersion = displayText(
            newest->shortVersion.isEmpty() ? newest->version : newest->shortVersion, maxDisplayLength);
        if (result.displayVersion.isEmpty())
            result.displayVersion = displayText(newest->version, maxDisplayLength);
        result.pageUrl = newest->pageUrl;
    } else {
        result.outcome = UpdateCheckResult::Outcome::UpToDate;
        result.version = currentVersion;
        result.displayVersion = displayText(currentVersion, maxDisplayLength);
    }
    return result;
}

QCoro::Task<UpdateCheckResult> UpdateChecker::fetch(Config config)
{
    if (!isSupportedFeedUrl(config.feedUrl))
        co_return UpdateCheckResult::failed(tr("The update feed address is not a secure web address."));

    QNetworkAccessManager manager;
    QNetworkRequest request(config.feedUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Varlo/%1").arg(config.currentVersion));
    request.setRawHeader("Accept", "application/rss+xml, application/xml;q=0.9, */*;q=0.5");

    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QNetworkReply* const raw = reply.get();
    QByteArray body;
    bool tooLarge = false;
    bool timedOut = false;

    // The reply and the timer live in this frame, so these connections end with it.
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [&] {
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (!tooLarge && length.isValid() && length.toLongLong() > config.maxFeedBytes) {
            tooLarge = true;
            raw->abort();
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [&] {
        if (tooLarge)
            return;
        body += raw->read(config.maxFeedBytes + 1 - body.size());
        if (body.size() > config.maxFeedBytes) {
            tooLarge = true;
            raw->abort();
        }
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, raw, [&] {
        timedOut = true;
        raw->abort();
    });
    limit.start(config.timeLimit);

    co_await raw;
    limit.stop();
    // We may have been resumed from inside the reply's own signal (abort() emits
    // finished at once); leave it before the reply and its manager are destroyed.
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));

    if (timedOut)
        co_return UpdateCheckResult::failed(
            tr("The update server didn't answer within %1 seconds.").arg(seconds(config.timeLimit)));
    if (tooLarge)
        co_return UpdateCheckResult::failed(
            tr("The update feed is larger than %1.").arg(QLocale().formattedDataSize(config.maxFeedBytes)));

    const int status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = displayText(
            raw->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(), maxReasonLength);
        const QString code =
            reason.isEmpty() ? QString::number(status) : QStringLiteral("%1 %2").arg(status).arg(reason);
        co_return UpdateCheckResult::failed(tr("The update server answered with HTTP %1.").arg(code));
    }
    if (raw->error() != QNetworkReply::NoError)
        co_return UpdateCheckResult::failed(
            tr("Couldn't reach the update server (%1).").arg(displayText(raw->errorString(), 200)));
    if (status < 200 || status > 299)
        co_return UpdateCheckResult::failed(tr("The update server answered with HTTP %1.").arg(status));

    body += raw->read(config.maxFeedBytes + 1 - body.size());
    if (body.size() > config.maxFeedBytes)
        co_return UpdateCheckResult::failed(
            tr("The update feed is larger than %1.").arg(QLocale().formattedDataSize(config.maxFeedBytes)));
    co_return evaluate(body, raw->url(), config.currentVersion);
}

} // namespace varlo
