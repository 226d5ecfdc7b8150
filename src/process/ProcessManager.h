#pragma once

#include "monitor/CommandRunner.h"
#include "monitor/ToolPaths.h"
#include "process/SignalSender.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

// Ends processes: SIGTERM, a bounded wait while polling, then SIGKILL.
// Pid 0, 1, negative pids and our own pid are never signalled.
class ProcessManager
{
public:
    explicit ProcessManager(ToolPaths tools = ToolPaths::system(),
                            CommandRunner runner = systemCommandRunner(),
                            std::shared_ptr<SignalSender> sender = std::make_shared<SystemSignalSender>());

    // True when the process is gone or already was; false when a signal was
    // refused (or the pid may not be signalled at all). Waits suspend.
    QCoro::Task<bool> terminate(qint32 pid);

    // Terminates the primary alone, then the other members together, then
    // SIGKILLs whatever still listens on `port`. Always true.
    QCoro::Task<bool> killGroup(std::optional<qint64> primaryPID, QList<qint32> pids, qint64 port);

    // Pids `lsof` reports as listening on TCP `port`, in output order.
    // Blocks on `lsof`: never call it on the main thread.
    QList<qint32> listeningPIDs(qint64 port) const;

    // Parses `lsof -t` output: one decimal pid per line, other lines skipped.
    static QList<qint32> parseListeningPIDs(const QString& output);

    // False for pids that no kill path may reach.
    static bool maySignal(qint64 pid);

    static constexpr std::chrono::milliseconds gracePeriod{3000};
    static constexpr std::chrono::milliseconds pollInterval{100};
    static constexpr double lsofTimeoutSeconds = 8.0;

private:
    ToolPaths m_tools;
    CommandRunner m_runner;
    std::shared_ptr<SignalSender> m_sender;
};

} // namespace varlo
