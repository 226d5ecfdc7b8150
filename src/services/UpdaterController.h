#pragma once

#include "services/UpdateChecker.h"
#include "settings/DefaultsStore.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

namespace varlo {

class PendingUpdateCheck;

// Owns the update checks: the automatic-check switch and the date of the last
// check live in the defaults store under their own keys; automatic checks run
// at most once per interval; a manual check can run at any time. When the build
// turns updates off (or has no usable feed) nothing here touches the network.
class UpdaterController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(QDateTime lastUpdateCheckDate READ lastUpdateCheckDate NOTIFY lastUpdateCheckDateChanged)
    Q_PROPERTY(bool checking READ isChecking NOTIFY checkingChanged)

public:
    static constexpr const char* automaticChecksKey = "automaticallyChecksForUpdates";
    // Seconds since 2001-01-01 00:00:00 UTC, like every other stored timestamp.
    static constexpr const char* lastCheckDateKey = "lastUpdateCheckDate";

    struct Config
    {
        bool enabled = false;
        UpdateChecker::Config checker;
        std::chrono::seconds checkInterval = std::chrono::hours(24);
        // How often a pending automatic check re-reads the wall clock, which
        // may jump and does not stop while the machine sleeps.
        std::chrono::milliseconds pollInterval = std::chrono::hours(1);
    };
    using Check = std::function<QCoro::Task<UpdateCheckResult>()>;
    using Clock = std::function<QDateTime()>;

    // From the build: VARLO_ENABLE_UPDATER, VARLO_UPDATE_FEED_URL and the project version.
    static Config buildConfig();

    // `store` must outlive the controller. Schedules the first automatic check at once.
    UpdaterController(DefaultsStore& store, Config config, QObject* parent = nullptr);
    // With the network check and the clock replaced.
    UpdaterController(DefaultsStore& store, Config config, Check check, Clock clock,
                      QObject* parent = nullptr);
    ~UpdaterController() override;

    // False when the build turns updates off or names no usable feed.
    bool isAvailable() const { return m_available; }
    QString currentVersion() const { return m_config.checker.currentVersion; }

    bool automaticallyChecksForUpdates() const;
    // Always stored, so an explicit "no" is remembered. Ignored when unavailable.
    void setAutomaticallyChecksForUpdates(bool enabled);

    // Invalid when no check has run yet.
    QDateTime lastUpdateCheckDate() const;
    bool isChecking() const { return m_pending != nullptr; }

    // The manual check. Joins a check already under way instead of starting another.
    QCoro::Task<UpdateCheckResult> checkForUpdates();

public Q_SLOTS:
    // Starts an automatic check when automatic checks are on and the last check
    // is at least one interval old; true when one started.
    bool checkIfDue();

Q_SIGNALS:
    void automaticallyChecksForUpdatesChanged();
    void lastUpdateCheckDateChanged();
    void checkingChanged();
    // An automatic check found a newer release (a manual check returns its result instead).
    void updateFound(const varlo::UpdateCheckResult& result);

private:
    std::shared_ptr<PendingUpdateCheck> startCheck();
    QCoro::Task<void> runCheck(std::shared_ptr<PendingUpdateCheck> pending);
    void setLastUpdateCheckDate(const QDateTime& date);
    void scheduleNext();

    DefaultsStore& m_store;
    Config m_config;
    bool m_available = false;
    Check m_check;
    Clock m_clock;
    QTimer m_timer;
    std::shared_ptr<PendingUpdateCheck> m_pending;
};

} // namespace varlo
