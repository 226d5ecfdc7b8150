#include "services/UpdaterController.h"

#include <QPointer>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <qcoro/qcorosignal.h>

namespace varlo {

// One check in flight, shared by everyone waiting for its result.
class PendingUpdateCheck : public QObject
{
    Q_OBJECT
public:
    UpdateCheckResult result;
    bool done = false;
    bool awaitedByUser = false;

Q_SIGNALS:
    void finished();
};

namespace {

const QDateTime referenceDate(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
// Beyond this a stored date is garbage (and would overflow the conversion).
constexpr double maxStoredSeconds = 1e12;

} // namespace

UpdaterController::UpdaterController(DefaultsStore& store, Config config, QObject* parent)
    : UpdaterController(
          store, config, [checker = UpdateChecker(config.checker)] { return checker.check(); },
          [] { return QDateTime::currentDateTimeUtc(); }, parent)
{
}

UpdaterController::UpdaterController(DefaultsStore& store, Config config, Check check, Clock clock,
                                     QObject* parent)
    : QObject(parent), m_store(store), m_config(std::move(config)),
      m_available(m_config.enabled && UpdateChecker::isSupportedFeedUrl(m_config.checker.feedUrl)),
      m_check(std::move(check)), m_clock(std::move(clock))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &UpdaterController::checkIfDue);
    scheduleNext();
}

UpdaterController::~UpdaterController() = default;

bool UpdaterController::automaticallyChecksForUpdates() const
{
    return m_available && m_store.boolean(QLatin1String(automaticChecksKey));
}

void UpdaterController::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (!m_available)
        return;
    const bool changed = enabled != automaticallyChecksForUpdates();
    m_store.setBoolean(QLatin1String(automaticChecksKey), enabled);
    if (changed)
        Q_EMIT automaticallyChecksForUpdatesChanged();
    scheduleNext();
}

QDateTime UpdaterController::lastUpdateCheckDate() const
{
    const QJsonValue stored = m_store.value(QLatin1String(lastCheckDateKey));
    if (!stored.isDouble())
        return {};
    const double seconds = stored.toDouble();
    if (!std::isfinite(seconds) || std::abs(seconds) > maxStoredSeconds)
        return {};
    return referenceDate.addMSecs(std::llround(seconds * 1000.0));
}

void UpdaterController::setLastUpdateCheckDate(const QDateTime& date)
{
    if (date == lastUpdateCheckDate())
        return;
    m_store.setDouble(QLatin1String(lastCheckDateKey),
                      static_cast<double>(referenceDate.msecsTo(date)) / 1000.0);
    Q_EMIT lastUpdateCheckDateChanged();
}

bool UpdaterController::checkIfDue()
{
    if (!automaticallyChecksForUpdates() || m_pending)
        return false;
    const QDateTime now = m_clock();
    const QDateTime last = lastUpdateCheckDate();
    if (last.isValid() && last > now) {
        // The clock went back (or the stored date is bogus): count from now.
        setLastUpdateCheckDate(now);
        scheduleNext();
        return false;
    }
    if (last.isValid() && last.secsTo(now) < m_config.checkInterval.count()) {
        scheduleNext();
        return false;
    }
    startCheck();
    return true;
}

void UpdaterController::scheduleNext()
{
    m_timer.stop();
    if (!automaticallyChecksForUpdates() || m_pending)
        return;
    qint64 wait = 0;
    const QDateTime last = lastUpdateCheckDate();
    if (last.isValid())
        wait = m_clock().msecsTo(last.addSecs(m_config.checkInterval.count()));
    m_timer.start(std::chrono::milliseconds(std::clamp<qint64>(wait, 0, m_config.pollInterval.count())));
}

QCoro::Task<UpdateCheckResult> UpdaterController::checkForUpdates()
{
    if (!m_available)
        co_return UpdateCheckResult::failed(tr("Update checks are turned off in this build of Varlo; updates "
                                               "come with your system's packages."));

    std::shared_ptr<PendingUpdateCheck> pending = m_pending ? m_pending : startCheck();
    pending->awaitedByUser = true;
    if (!pending->done)
        co_await qCoro(pending.get(), &PendingUpdateCheck::finished);
    co_return pending->result;
}

std::shared_ptr<PendingUpdateCheck> UpdaterController::startCheck()
{
    auto pending = std::make_shared<PendingUpdateCheck>();
    m_pending = pending;
    m_timer.stop();
    // Recorded at the start, so a check that never completes still counts.
    setLastUpdateCheckDate(m_clock());
    Q_EMIT checkingChanged();
    runCheck(pending);
    return pending;
}

QCoro::Task<void> UpdaterController::runCheck(std::shared_ptr<PendingUpdateCheck> pending)
{
    const QPointer<UpdaterController> self(this);
    const Check check = m_check;
    UpdateCheckResult result = co_await check();

    pending->result = result;
    pending->done = true;
    Q_EMIT pending->finished();
    if (!self)
        co_return;
    m_pending.reset();
    Q_EMIT checkingChanged();
    if (!pending->awaitedByUser && result.outcome == UpdateCheckResult::Outcome::UpdateAvailable)
        Q_EMIT updateFound(result);
    scheduleNext();
}

} // namespace varlo

#include "UpdaterController.moc"
