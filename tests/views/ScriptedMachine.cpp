#include "ScriptedMachine.h"

#include "TestSupport.h"

#include <QFile>
#include <qcoro/qcorotimer.h>

using namespace std::chrono_literals;

namespace varlo::test {

namespace {

// Scans answer with the machine's current ports.
class ScriptedScanner : public PortSource
{
public:
    explicit ScriptedScanner(const QList<PortEntry>* ports) : m_ports(ports) {}

    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool) override
    {
        // Every scan makes fresh entries, ids included, as the real scanner does.
        QList<PortEntry> fresh = *m_ports;
        for (PortEntry& entry : fresh)
            entry.id = QUuid::createUuid();
        co_return std::optional<QList<PortEntry>>(std::move(fresh));
    }

private:
    const QList<PortEntry>* m_ports;
};

template<typename T> QCoro::Task<T> answer(T value, std::chrono::milliseconds delay = 0ms)
{
    if (delay > 0ms)
        co_await QCoro::sleepFor(delay);
    co_return value;
}

} // namespace

PortEntry listener(qint64 port, qint64 pid, const QString& name, const QString& workingDirectory, qint64 ppid)
{
    PortEntry entry;
    entry.port = port;
    entry.pid = pid;
    entry.ppid = ppid;
    entry.processName = name;
    entry.binaryPath = QStringLiteral("/usr/bin/") + name;
    entry.workingDirectory = workingDirectory;
    return entry;
}

ScriptedMachine::ScriptedMachine(const QList<PortHistoryEntry>& history)
{
    MonitorServices services;
    services.scanner = std::make_unique<ScriptedScanner>(&ports);
    services.historyFile = m_dir.filePath(QStringLiteral("port-history.json"));
    if (!history.isEmpty()) {
        QFile file(services.historyFile);
        if (file.open(QIODevice::WriteOnly))
            file.write(PortHistory::encode(history));
    }
    services.detectTunnels = [this](int) { return answer(tunnels); };
    services.detectContainers = [this] { return answer(containers); };
    services.detectVPN = [this] { return answer(vpn); };
    services.processDetail = [this](qint64) { return answer(detail, detailDelay); };
    services.stopContainer = [this](QString name) {
        kills.append(QStringLiteral("stop ") + name);
        return answer(true);
    };
    services.terminate = [this](qint32 pid) {
        kills.append(QStringLiteral("terminate %1").arg(pid));
        return answer(true);
    };
    services.killGroup = [this](std::optional<qint64>, QList<qint32> pids, qint64) {
        QStringList numbers;
        for (const qint32 pid : pids)
            numbers.append(QString::number(pid));
        kills.append(QStringLiteral("group ") + numbers.join(QLatin1Char(',')));
        return answer(true);
    };
    services.notifyNewPorts = [](const QList<PortEntry>&) {};
    m_monitor = std::make_unique<PortMonitor>(m_settings, std::move(services));
    m_monitor->history().waitForLoad();
}

ScriptedMachine::~ScriptedMachine()
{
    m_monitor->history().waitForWrites();
}

bool ScriptedMachine::scan()
{
    if (!m_monitor->isPanelOpen()) {
        m_monitor->setPanelOpen(true); // starts a cycle of its own
        if (!waitUntil([this] { return m_monitor->hasLoadedOnce() && !m_monitor->isScanning(); }, 5s))
            return false;
    }
    return awaitTask(m_monitor->refresh(), 5s);
}

bool ScriptedMachine::expand(const PortEntry& entry)
{
    return awaitTask(m_monitor->toggleExpand(entry), 5s);
}

} // namespace varlo::test
