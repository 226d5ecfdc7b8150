#include "process/ProcessManager.h"
#include "monitor/BlockingPool.h"

#include "monitor/TextParsing.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <csignal>
#include <limits>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotimer.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace varlo {

namespace {

// The coroutines below own copies of what they need, so a manager destroyed
// while a kill is in flight leaves nothing dangling.

QCoro::Task<bool> terminateWith(std::shared_ptr<SignalSender> sender, qint32 pid)
{
    if (!ProcessManager::maySignal(pid))
        co_return false;
    // Pinned before the first signal: the pid may be reused during the grace period.
    const std::unique_ptr<SignalTarget> target = sender->open(pid);
    if (const int error = target->send(SIGTERM); error != 0)
        co_return error == ESRCH;

    // Monotonic, so a clock change neither cuts the grace short nor stretches it.
    const QDeadlineTimer deadline(ProcessManager::gracePeriod);
    while (!deadline.hasExpired()) {
        co_await QCoro::sleepFor(ProcessManager::pollInterval);
        if (target->hasExited())
            co_return true;
    }
    const int error = target->send(SIGKILL);
    co_return error == 0 || error == ESRCH;
}

QList<qint32> listeningPIDsWith(const CommandRunner& runner, const QString& lsof, qint64 port)
{
    // Anything else would make lsof match more, or other, sockets than this port's.
    if (port < 1 || port > 65535)
        return {};
    const QStringList arguments{QStringLiteral("-t"), QStringLiteral("-nP"),
                                QStringLiteral("-iTCP:") + QString::number(port),
                                QStringLiteral("-sTCP:LISTEN")};
    return ProcessManager::parseListeningPIDs(runner(lsof, arguments, ProcessManager::lsofTimeoutSeconds));
}

QCoro::Task<bool> killGroupWith(std::shared_ptr<SignalSender> sender, CommandRunner runner, QString lsof,
                                std::optional<qint64> primaryPID, QList<qint32> pids, qint64 port)
{
    const bool primaryFits = primaryPID && *primaryPID >= std::numeric_limits<qint32>::min() &&
                             *primaryPID <= std::numeric_limits<qint32>::max();
    if (primaryFits) {
        // Named: the shared_ptr copy must not be a temporary of the co_await (GCC 12).
        auto primary = terminateWith(sender, static_cast<qint32>(*primaryPID));
        co_await std::move(primary);
    }

    // Tasks start running when created, so starting them all first runs them side by side.
    std::vector<QCoro::Task<bool>> running;
    running.reserve(static_cast<size_t>(pids.size()));
    for (qint32 pid : std::as_const(pids)) {
        if (!primaryPID || pid != *primaryPID)
            running.push_back(terminateWith(sender, pid));
    }
    for (QCoro::Task<bool>& task : running)
        co_await std::move(task);

    // Named: GCC 12 destroys a lambda temporary inside a co_await operand twice.
    QFuture<QList<qint32>> sweep =
        QtConcurrent::run(&blockingPool(), [runner, lsof, port] { return listeningPIDsWith(runner, lsof, port); });
    const QList<qint32> listeners = co_await sweep;
    for (qint32 pid : listeners) {
        if (ProcessManager::maySignal(pid))
            sender->open(pid)->send(SIGKILL);
    }
    co_return true;
}

} // namespace

ProcessManager::ProcessManager(ToolPaths tools, CommandRunner runner, std::shared_ptr<SignalSender> sender)
    : m_tools(std::move(tools)), m_runner(std::move(runner)), m_sender(std::move(sender))
{
    if (!m_runner)
        m_runner = systemCommandRunner();
    if (!m_sender)
        m_sender = std::make_shared<SystemSignalSender>();
}

QCoro::Task<bool> ProcessManager::terminate(qint32 pid)
{
    return terminateWith(m_sender, pid);
}

QCoro::Task<bool> ProcessManager::killGroup(std::optional<qint64> primaryPID, QList<qint32> pids, qint64 port)
{
    return killGroupWith(m_sender, m_runner, m_tools.lsof, primaryPID, std::move(pids), port);
}

QList<qint32> ProcessManager::listeningPIDs(qint64 port) const
{
    return listeningPIDsWith(m_runner, m_tools.lsof, port);
}

QList<qint32> ProcessManager::parseListeningPIDs(const QString& output)
{
    QList<qint32> pids;
    for (QStringView line : QStringView(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (const auto pid = parseDecimalInteger<qint32>(trimSpacesAndTabs(line)))
            pids.append(*pid);
    }
    return pids;
}

bool ProcessManager::maySignal(qint64 pid)
{
    return pid > 1 && pid <= std::numeric_limits<qint32>::max() && pid != ::getpid();
}

} // namespace varlo
