#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <chrono>
#include <qcoro/qcorotask.h>

namespace varlo {

// How one update check ended.
struct UpdateCheckResult
{
    enum class Outcome
    {
        UpToDate,
        UpdateAvailable,
        Failed
    };

    Outcome outcome = Outcome::Failed;
    // UpToDate: the running version. UpdateAvailable: the newest release's
    // version and its short form for display (trimmed to a sensible length).
    QString version;
    QString displayVersion;
    QUrl pageUrl;  // UpdateAvailable: its download or release-notes page, when the feed names one
    QString error; // Failed: the reason, one sentence for the user

    static UpdateCheckResult failed(QString reason);
};

// Fetches a Sparkle-style appcast over HTTP(S) and compares its newest release
// with the running version. Each check uses its own network access manager and
// is bounded in time and size.
class UpdateChecker
{
public:
    struct Config
    {
        QUrl feedUrl;
        QString currentVersion;
        std::chrono::milliseconds timeLimit{10'000};
        qint64 maxFeedBytes = 4 * 1024 * 1024;
    };

    explicit UpdateChecker(Config config) : m_config(std::move(config)) {}

    const Config& config() const { return m_config; }

    // Never throws and always finishes within about the time limit.
    QCoro::Task<UpdateCheckResult> check() const { return fetch(m_config); }

    // The verdict on a downloaded feed.
    static UpdateCheckResult evaluate(const QByteArray& feed, const QUrl& feedUrl,
                                      const QString& currentVersion);

    // https anywhere, plain http only to this machine.
    static bool isSupportedFeedUrl(const QUrl& url);

private:
    static QCoro::Task<UpdateCheckResult> fetch(Config config);

    Config m_config;
};

} // namespace varlo

Q_DECLARE_METATYPE(varlo::UpdateCheckResult)
