#include "monitor/PortMonitor.h"

#include "monitor/Log.h"
#include "settings/AppSettings.h"

#include <QPointer>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <cmath>

namespace varlo {

namespace {

constexpr double fallbackScanInterval = 4.0;

QString bracketed(QList<qint64> ports)
{
    QStringList texts;
    for (qint64 port : ports)
        texts.append(QString::number(port));
    return u'[' + texts.join(QStringLiteral(", ")) + u']';
}

QList<qint64> sorted(const QSet<qint64>& ports)
{
    QList<qint64> list(ports.cbegin(), ports.cend());
    std::sort(list.begin(), list.end());
    return list;
}

template<typename T> bool assignIfChanged(T& field, T value)
{
    if (field == value)
        return false;
    field = std::move(value);
    return true;
}

QList<qint32> memberPIDs(const PortGroup& group)
{
    QList<qint32> pids;
    for (const PortEntry& member : group.members) {
        // Pids come from the kernel and fit; anything else is dropped, never truncated.
        if (member.pid > 0 && member.pid <= std::numeric_limits<qint32>::max())
            pids.append(static_cast<qint32>(member.pid));
    }
    return pids;
}

} // namespace

PortMonitor::PortMonitor(AppSettings& settings, MonitorServices services, QObject* parent)
    : QObject(parent), m_settings(settings), m_services(std::move(services)),
      m_history(m_services.historyFile)
{
    m_history.load(m_settings.historyRetentionDays());
}

PortMonitor::~PortMonitor() = default;

double PortMonitor::effectiveScanInterval() const
{
    const double interval = m_settings.scanInterval();
    return std::isfinite(interval) && interval > 0 ? interval : fallbackScanInterval;
}

void PortMonitor::start()
{
    if (m_started)
        return;
    m_started = true;
    // A timer the monitor owns, rather than a sleeping coroutine, so nothing
    // is left waiting once the monitor is gone.
    m_pauseTimer.setSingleShot(true);
    m_pauseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pauseTimer, &QTimer::timeout, this, &PortMonitor::tick);
    tick();
}

void PortMonitor::tick()
{
    [](QPointer<PortMonitor> monitor) -> QCoro::Task<void> {
        co_await monitor->refresh();
        if (!monitor)
            co_return;
        // QTimer counts in int milliseconds; a longer pause is capped there.
        const double pauseMs = std::min(monitor->effectiveScanInterval() * 1000.0, double(INT_MAX));
        monitor->m_pauseTimer.start(static_cast<int>(pauseMs));
    }(this);
}

QCoro::Task<void> PortMonitor::refresh()
{
    if (m_isScanning) {
        setRescanQueued(true);
        co_return;
    }
    QPointer<PortMonitor> self(this);
    setIsScanning(true);
    setRescanQueued(false);
    co_await scanCycle();
    while (self && self->m_rescanQueued) {
        self->setRescanQueued(false);
        co_await self->scanCycle();
    }
    if (self)
        self->setIsScanning(false);
}

QCoro::Task<void> PortMonitor::scanCycle()
{
    QPointer<PortMonitor> self(this);
    const bool panelOpen = m_isPanelOpen;
    // The context lookups run alongside the scan: neither waits for the other.
    QCoro::Task<Context> context =
        panelOpen ? lookUpContext() : []() -> QCoro::Task<Context> { co_return Context{}; }();
    const std::optional<QList<PortEntry>> raw = co_await m_services.scanner->scan(panelOpen);
    const Context found = co_await std::move(context);
    if (!self)
        co_return;
    if (!raw) {
        // A failed tool run is not an empty machine: everything stays as the
        // last good cycle left it, so nothing is marked gone or announced anew.
        if (!m_lastScanFailed)
            qCInfo(lcNotify, "port scan failed; keeping the last result");
        setLastScanFailed(true);
        setHasLoadedOnce(true);
        co_return;
    }
    setLastScanFailed(false);

    // The same listeners as last time: the published rows, their groups and
    // the diff stay as they are, so the views have nothing to redraw.
    QList<PortEntry> filtered = m_filter.apply(*raw, m_settings);
    const bool unchanged = m_hasCompletedFirstScan && sameListeners(filtered, m_ports);
    if (!unchanged) {
        setPorts(std::move(filtered));
        m_groupCount = PortGroup::group(m_ports).size();
    }
    recordHistory();
    if (panelOpen) {
        setTunnels(found.tunnels);
        setDockerContainers(found.containers);
        setVpnName(found.vpnName);
    }
    if (!unchanged)
        handOnNewPorts();
    if (m_onPortsChanged)
        m_onPortsChanged(m_groupCount);
    if (panelOpen && m_expandedPID)
        co_await refreshExpandedDetail();
}

bool PortMonitor::sameListeners(const QList<PortEntry>& a, const QList<PortEntry>& b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), [](const PortEntry& x, PortEntry y) {
        y.id = x.id;
        return x == y;
    });
}

void PortMonitor::recordHistory()
{
    m_history.record(m_ports);
}

QCoro::Task<PortMonitor::Context> PortMonitor::lookUpContext()
{
    const int ngrokAPIPort = m_settings.ngrokAPIPort();
    // Coroutines start eagerly: all three lookups are under way before the first await.
    auto tunnels = m_settings.tunnelDetectionEnabled() ? m_services.detectTunnels(ngrokAPIPort)
                                                       : []() -> QCoro::Task<TunnelMap> { co_return {}; }();
    auto containers = m_settings.dockerDetectionEnabled()
                          ? m_services.detectContainers()
                          : []() -> QCoro::Task<DockerContainers> { co_return {}; }();
    auto vpn = m_services.detectVPN();

    Context context;
    context.tunnels = co_await std::move(tunnels);
    context.containers = co_await std::move(containers);
    context.vpnName = co_await std::move(vpn);
    co_return context;
}

void PortMonitor::handOnNewPorts()
{
    QSet<qint64> current;
    for (const PortEntry& entry : std::as_const(m_ports))
        current.insert(entry.port);

    if (m_hasCompletedFirstScan && m_settings.notifyOnNewPort()) {
        QList<PortEntry> fresh;
        QList<qint64> freshPorts;
        for (const PortEntry& entry : std::as_const(m_ports)) {
            if (!m_knownPorts.contains(entry.port)) {
                fresh.append(entry);
                freshPorts.append(entry.port);
            }
        }
        qCDebug(lcNotify, "notify diff: current=%s", qUtf8Printable(bracketed(sorted(current))));
        qCDebug(lcNotify, "notify diff: known=%s new=%s", qUtf8Printable(bracketed(sorted(m_knownPorts))),
                qUtf8Printable(bracketed(freshPorts)));
        if (!fresh.isEmpty() && m_services.notifyNewPorts)
            m_services.notifyNewPorts(fresh);
    }
    setKnownPorts(std::move(current));
    setHasCompletedFirstScan(true);
    setHasLoadedOnce(true);
}

QCoro::Task<void> PortMonitor::refreshExpandedDetail()
{
    const qint64 pid = *m_expandedPID;
    const bool stillListening = std::any_of(m_ports.cbegin(), m_ports.cend(),
                                            [pid](const PortEntry& entry) { return entry.pid == pid; });
    if (!stillListening) {
        collapse();
        co_return;
    }
    QPointer<PortMonitor> self(this);
    // No "loading" first: the old figures stay visible until the new ones arrive.
    const std::optional<ProcessDetail> detail = co_await m_services.processDetail(pid);
    if (self && self->m_expandedPID == pid)
        self->setExpandedDetailState(detail ? DetailState::loaded(*detail) : DetailState::unavailable());
}

void PortMonitor::setPanelOpen(bool open)
{
    setIsPanelOpen(open);
    if (open) {
        QPointer<PortMonitor> self(this);
        [](QPointer<PortMonitor> monitor) -> QCoro::Task<void> {
            if (monitor)
                co_await monitor->refresh();
        }(self);
    } else {
        collapse();
    }
}

QCoro::Task<void> PortMonitor::toggleExpand(PortEntry entry)
{
    if (m_expandedPID == entry.pid) {
        collapse();
        co_return;
    }
    QPointer<PortMonitor> self(this);
    const qint64 pid = entry.pid;
    setExpandedPID(pid);
    setExpandedDetailState(DetailState::loading());
    const std::optional<ProcessDetail> detail = co_await m_services.processDetail(pid);
    if (self && self->m_expandedPID == pid)
        self->setExpandedDetailState(detail ? DetailState::loaded(*detail) : DetailState::unavailable());
}

QCoro::Task<void> PortMonitor::stopProcesses(const PortGroup& group)
{
    // Calls with non-trivial arguments stay outside `co_await`: GCC 12 destroys
    // temporaries of an awaited expression twice.
    QList<qint32> pids = memberPIDs(group);
    if (group.members.size() > 1) {
        auto killing = m_services.killGroup(group.primaryPID, std::move(pids), group.port);
        co_await std::move(killing);
    } else if (!pids.isEmpty()) {
        co_await m_services.terminate(pids.constFirst());
    }
}

QCoro::Task<void> PortMonitor::kill(PortGroup group)
{
    QPointer<PortMonitor> self(this);
    const auto container = m_dockerContainers.constFind(group.port);
    if (container != m_dockerContainers.cend()) {
        auto stopping = m_services.stopContainer(container->containerName);
        co_await std::move(stopping);
    } else {
        co_await stopProcesses(group);
    }
    if (self)
        co_await self->refresh();
}

QCoro::Task<void> PortMonitor::killAll()
{
    QPointer<PortMonitor> self(this);
    const QList<PortGroup> groups = PortGroup::group(m_ports);
    const DockerContainers containers = m_dockerContainers;

    QStringList names;
    for (const PortGroup& group : groups) {
        const auto container = containers.constFind(group.port);
        if (container != containers.cend() && !names.contains(container->containerName))
            names.append(container->containerName);
    }
    for (const QString& name : std::as_const(names)) {
        auto stopping = m_services.stopContainer(name);
        co_await std::move(stopping);
        if (!self)
            co_return;
    }
    for (const PortGroup& group : groups) {
        if (containers.contains(group.port))
            continue;
        co_await stopProcesses(group);
        if (!self)
            co_return;
    }
    co_await refresh();
}

void PortMonitor::collapse()
{
    setExpandedPID(std::nullopt);
    setExpandedDetailState(std::nullopt);
}

void PortMonitor::setPorts(QList<PortEntry> value)
{
    if (assignIfChanged(m_ports, std::move(value)))
        Q_EMIT portsChanged();
}
void PortMonitor::setIsScanning(bool value)
{
    if (assignIfChanged(m_isScanning, value))
        Q_EMIT isScanningChanged();
}
void PortMonitor::setHasLoadedOnce(bool value)
{
    if (assignIfChanged(m_hasLoadedOnce, value))
        Q_EMIT hasLoadedOnceChanged();
}
void PortMonitor::setExpandedPID(std::optional<qint64> value)
{
    if (assignIfChanged(m_expandedPID, value))
        Q_EMIT expandedPIDChanged();
}
void PortMonitor::setExpandedDetailState(std::optional<DetailState> value)
{
    if (assignIfChanged(m_expandedDetailState, std::move(value)))
        Q_EMIT expandedDetailStateChanged();
}
void PortMonitor::setTunnels(TunnelMap value)
{
    if (assignIfChanged(m_tunnels, std::move(value)))
        Q_EMIT tunnelsChanged();
}
void PortMonitor::setDockerContainers(DockerContainers value)
{
    if (assignIfChanged(m_dockerContainers, std::move(value)))
        Q_EMIT dockerContainersChanged();
}
void PortMonitor::setVpnName(std::optional<QString> value)
{
    if (assignIfChanged(m_vpnName, std::move(value)))
        Q_EMIT vpnNameChanged();
}
void PortMonitor::setIsPanelOpen(bool value)
{
    if (assignIfChanged(m_isPanelOpen, value))
        Q_EMIT isPanelOpenChanged();
}
void PortMonitor::setRescanQueued(bool value)
{
    if (assignIfChanged(m_rescanQueued, value))
        Q_EMIT rescanQueuedChanged();
}
void PortMonitor::setLastScanFailed(bool value)
{
    if (assignIfChanged(m_lastScanFailed, value))
        Q_EMIT lastScanFailedChanged();
}
void PortMonitor::setKnownPorts(QSet<qint64> value)
{
    if (assignIfChanged(m_knownPorts, std::move(value)))
        Q_EMIT knownPortsChanged();
}
void PortMonitor::setHasCompletedFirstScan(bool value)
{
    if (assignIfChanged(m_hasCompletedFirstScan, value))
        Q_EMIT hasCompletedFirstScanChanged();
}

} // namespace varlo
