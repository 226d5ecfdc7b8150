#pragma once

#include "detectors/DockerDetector.h"
#include "detectors/TunnelDetector.h"
#include "monitor/PortEntry.h"
#include "monitor/PortFilter.h"
#include "monitor/PortHistory.h"
#include "monitor/PortSource.h"
#include "process/ProcessDetail.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

class AppSettings;

// What the monitor asks of the rest of the system. A table of functions so
// tests can stand in for any tool, detector or process.
struct MonitorServices
{
    std::unique_ptr<PortSource> scanner;
    QString scannerName; // which source `scanner` is, for diagnostics
    std::function<QCoro::Task<TunnelMap>(int ngrokAPIPort)> detectTunnels;
    std::function<QCoro::Task<DockerContainers>()> detectContainers;
    std::function<QCoro::Task<std::optional<QString>>()> detectVPN;
    std::function<QCoro::Task<bool>(QString containerName)> stopContainer;
    std::function<QCoro::Task<std::optional<ProcessDetail>>(qint64 pid)> processDetail;
    std::function<QCoro::Task<bool>(qint32 pid)> terminate;
    std::function<QCoro::Task<bool>(std::optional<qint64> primaryPID, QList<qint32> pids, qint64 port)>
        killGroup;
    std::function<void(const QList<PortEntry>&)> notifyNewPorts;
    QString historyFile = PortHistory::standardFilePath();

    // The real scanner, detectors, inspector and process manager.
    static MonitorServices system();
};

// The observable state the panel draws, refreshed by a scan loop that never
// runs two cycles at once. Lives on the main thread.
class PortMonitor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<varlo::PortEntry> ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(bool hasLoadedOnce READ hasLoadedOnce NOTIFY hasLoadedOnceChanged)
    Q_PROPERTY(std::optional<qint64> expandedPID READ expandedPID NOTIFY expandedPIDChanged)
    Q_PROPERTY(std::optional<varlo::DetailState> expandedDetailState READ expandedDetailState NOTIFY
                   expandedDetailStateChanged)
    Q_PROPERTY(varlo::TunnelMap tunnels READ tunnels NOTIFY tunnelsChanged)
    Q_PROPERTY(varlo::DockerContainers dockerContainers READ dockerContainers NOTIFY dockerContainersChanged)
    Q_PROPERTY(std::optional<QString> vpnName READ vpnName NOTIFY vpnNameChanged)
    Q_PROPERTY(bool isPanelOpen READ isPanelOpen NOTIFY isPanelOpenChanged)
    Q_PROPERTY(bool rescanQueued READ rescanQueued NOTIFY rescanQueuedChanged)
    Q_PROPERTY(QSet<qint64> knownPorts READ knownPorts NOTIFY knownPortsChanged)
    Q_PROPERTY(bool hasCompletedFirstScan READ hasCompletedFirstScan NOTIFY hasCompletedFirstScanChanged)
    Q_PROPERTY(bool lastScanFailed READ lastScanFailed NOTIFY lastScanFailedChanged)

public:
    // Loads the port history with the retention setting.
    PortMonitor(AppSettings& settings, MonitorServices services, QObject* parent = nullptr);
    ~PortMonitor() override;

    QList<PortEntry> ports() const { return m_ports; }
    bool isScanning() const { return m_isScanning; }
    bool hasLoadedOnce() const { return m_hasLoadedOnce; }
    std::optional<qint64> expandedPID() const { return m_expandedPID; }
    std::optional<DetailState> expandedDetailState() const { return m_expandedDetailState; }
    TunnelMap tunnels() const { return m_tunnels; }
    DockerContainers dockerContainers() const { return m_dockerContainers; }
    std::optional<QString> vpnName() const { return m_vpnName; }
    bool isPanelOpen() const { return m_isPanelOpen; }
    bool rescanQueued() const { return m_rescanQueued; }
    QSet<qint64> knownPorts() const { return m_knownPorts; }
    bool hasCompletedFirstScan() const { return m_hasCompletedFirstScan; }
    // The last cycle could not list the ports; `ports` still shows the cycle before.
    bool lastScanFailed() const { return m_lastScanFailed; }
    AppSettings& settings() const { return m_settings; }
    const QString& scannerName() const { return m_services.scannerName; }
    PortHistory& history() { return m_history; }

    // Called after every cycle with the number of port groups.
    void setOnPortsChanged(std::function<void(qint64)> callback) { m_onPortsChanged = std::move(callback); }

    // Starts the scan loop: a cycle now, then one `scanInterval` after each cycle ends.
    void start();
    void setPanelOpen(bool open);
    // One scan now; during a running cycle it only queues one more.
    QCoro::Task<void> refresh();

    QCoro::Task<void> kill(PortGroup group);
    QCoro::Task<void> killAll();
    QCoro::Task<void> toggleExpand(PortEntry entry);

    // The pause after a cycle: the setting when it is a positive finite number, else 4 s.
    double effectiveScanInterval() const;

Q_SIGNALS:
    void portsChanged();
    void isScanningChanged();
    void hasLoadedOnceChanged();
    void expandedPIDChanged();
    void expandedDetailStateChanged();
    void tunnelsChanged();
    void dockerContainersChanged();
    void vpnNameChanged();
    void isPanelOpenChanged();
    void rescanQueuedChanged();
    void knownPortsChanged();
    void hasCompletedFirstScanChanged();
    void lastScanFailedChanged();

private:
    // One cycle now, then the next after `effectiveScanInterval()`.
    void tick();
    QCoro::Task<void> scanCycle();

    // What the open panel shows beside the ports.
    struct Context
    {
        TunnelMap tunnels;
        DockerContainers containers;
        std::optional<QString> vpnName;
    };

    // Equal but for the ids every scan gives afresh.
    static bool sameListeners(const QList<PortEntry>& a, const QList<PortEntry>& b);

    // The four steps a cycle runs around publishing the ports.
    void recordHistory();
    QCoro::Task<Context> lookUpContext();
    void handOnNewPorts();
    QCoro::Task<void> refreshExpandedDetail();

    QCoro::Task<void> stopProcesses(const PortGroup& group);
    void collapse();

    void setPorts(QList<PortEntry> ports);
    void setIsScanning(bool value);
    void setHasLoadedOnce(bool value);
    void setExpandedPID(std::optional<qint64> value);
    void setExpandedDetailState(std::optional<DetailState> value);
    void setTunnels(TunnelMap value);
    void setDockerContainers(DockerContainers value);
    void setVpnName(std::optional<QString> value);
    void setIsPanelOpen(bool value);
    void setRescanQueued(bool value);
    void setKnownPorts(QSet<qint64> value);
    void setHasCompletedFirstScan(bool value);
    void setLastScanFailed(bool value);

    AppSettings& m_settings;
    MonitorServices m_services;
    PortFilter m_filter;
    PortHistory m_history;
    std::function<void(qint64)> m_onPortsChanged;
    bool m_started = false;
    QTimer m_pauseTimer;

    QList<PortEntry> m_ports;
    qsizetype m_groupCount = 0; // of m_ports
    bool m_isScanning = false;
    bool m_hasLoadedOnce = false;
    std::optional<qint64> m_expandedPID;
    std::optional<DetailState> m_expandedDetailState;
    TunnelMap m_tunnels;
    DockerContainers m_dockerContainers;
    std::optional<QString> m_vpnName;
    bool m_isPanelOpen = false;
    bool m_rescanQueued = false;
    QSet<qint64> m_knownPorts;
    bool m_hasCompletedFirstScan = false;
    bool m_lastScanFailed = false;
};

} // namespace varlo
