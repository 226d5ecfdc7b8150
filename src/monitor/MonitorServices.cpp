#include "detectors/DockerDetector.h"
#include "detectors/TunnelDetector.h"
#include "detectors/VPNDetector.h"
#include "monitor/PortMonitor.h"
#include "monitor/SystemPortSource.h"
#include "process/ProcessInspector.h"
#ifdef Q_OS_LINUX
#include "process/ProcDetail.h"
#endif
#include "process/ProcessManager.h"

namespace varlo {

MonitorServices MonitorServices::system()
{
    // Shared so that every function below keeps its service alive.
    auto tunnels = std::make_shared<TunnelDetector>();
    auto docker = std::make_shared<DockerDetector>();
    auto vpn = std::make_shared<VPNDetector>();
    auto processes = std::make_shared<ProcessManager>();

    MonitorServices services;
    ChosenPortSource chosen = choosePortSource();
    services.scanner = std::move(chosen.source);
    services.scannerName = chosen.name;
    services.detectTunnels = [tunnels](int ngrokAPIPort) { return tunnels->detect(ngrokAPIPort); };
    services.detectContainers = [docker] { return docker->detect(); };
    services.detectVPN = [vpn] { return vpn->detect(); };
    services.stopContainer = [docker](QString name) { return docker->stopContainer(name); };
#ifdef Q_OS_LINUX
    // No ps run per expand: the same figures straight from /proc.
    services.processDetail = [](qint64 pid) { return ProcDetail::read(pid); };
#else
    services.processDetail = [inspector = std::make_shared<ProcessInspector>()](qint64 pid) {
        return inspector->detail(pid);
    };
#endif
    services.terminate = [processes](qint32 pid) { return processes->terminate(pid); };
    services.killGroup = [processes](std::optional<qint64> primaryPID, QList<qint32> pids, qint64 port) {
        return processes->killGroup(primaryPID, std::move(pids), port);
    };
    return services;
}

} // namespace varlo
