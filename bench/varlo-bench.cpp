// Prints one line per figure, "name: value unit". Each figure is a function in
// `figures`; pass name fragments as arguments to run only the matching ones.
#include "FigureRunner.h"

#include "TestSupport.h"
#include "monitor/PortEntry.h"
#include "monitor/PortMonitor.h"
#include "monitor/PortScanner.h"
#include "monitor/ProcNetSource.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace varlo;
using namespace std::chrono_literals;

namespace {

void report(const QString& name, double value, const char* unit)
{
    std::printf("%s: %.2f %s\n", qPrintable(name), value, unit);
    std::fflush(stdout);
}

double microseconds(const timeval& time)
{
    return double(time.tv_sec) * 1e6 + double(time.tv_usec);
}

// CPU time of this process and of its reaped children (the tools), in ms.
double cpuMs()
{
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return (microseconds(self.ru_utime) + microseconds(self.ru_stime) + microseconds(children.ru_utime) +
            microseconds(children.ru_stime)) /
           1000.0;
}

struct Cost
{
    double wallMs = 0;
    double cpuMs = 0;
};

// Average wall and CPU time of `work` over `runs`, after one warm-up run.
Cost measure(int runs, const std::function<void()>& work)
{
    work();
    QElapsedTimer wall;
    const double cpuBefore = cpuMs();
    wall.start();
    for (int i = 0; i < runs; ++i)
        work();
    return Cost{double(wall.nsecsElapsed()) / 1e6 / runs, (cpuMs() - cpuBefore) / runs};
}

// Helper processes holding `sockets` loopback listeners, `perProcess` each.
class ListenerFarm
{
public:
    bool start(int sockets, int perProcess)
    {
        for (int held = 0; held < sockets; held += perProcess) {
            auto listener = std::make_unique<test::TestListener>();
            if (!listener->start(test::freeLoopbackPorts(qMin(perProcess, sockets - held))))
                return false;
            m_listeners.push_back(std::move(listener));
        }
        return true;
    }

private:
    std::vector<std::unique_ptr<test::TestListener>> m_listeners;
};

// The sources side by side: "lsof" and "netlink".
std::unique_ptr<PortSource> makeSource(const QString& kind)
{
    if (kind == u"netlink")
        return std::make_unique<ProcNetSource>();
    return std::make_unique<PortScanner>();
}

const QStringList sourceKinds{QStringLiteral("lsof"), QStringLiteral("netlink")};

// `extraProcesses` idle processes beside the listeners: the /proc walk sees them all.
void scanFigures(int sockets, int extraProcesses = 0)
{
    constexpr int socketsPerProcess = 10;
    constexpr int runs = 5;
    ListenerFarm farm;
    if (!farm.start(sockets, socketsPerProcess)) {
        std::fprintf(stderr, "could not start listeners for %d sockets\n", sockets);
        return;
    }
    test::TestListener crowd;
    if (extraProcesses > 0 && !crowd.start({}, test::TestListener::Options::withWorkers(extraProcesses))) {
        std::fprintf(stderr, "could not start %d extra processes\n", extraProcesses);
        return;
    }
    const QString suffix = extraProcesses > 0 ? QStringLiteral("_plus_%1_processes").arg(extraProcesses)
                                              : QString();
    for (const QString& kind : sourceKinds) {
        const std::unique_ptr<PortSource> source = makeSource(kind);
        for (const bool details : {false, true}) {
            const Cost cost = measure(runs, [&] {
                if (!test::awaitTask(source->scan(details), 60s).value_or(std::nullopt))
                    std::fprintf(stderr, "scan failed or did not finish\n");
            });
            const QString name = QStringLiteral("scan_%1_%2_%3_sockets%4")
                                     .arg(kind, details ? "detailed" : "closed")
                                     .arg(sockets)
                                     .arg(suffix);
            report(name + "_wall", cost.wallMs, "ms");
            report(name + "_cpu", cost.cpuMs, "ms");
        }
        // Opening the panel: closed-panel scans have run, then one detailed scan.
        double openMs = 0;
        for (int run = 0; run < runs; ++run) {
            (void)test::awaitTask(source->scan(false), 60s);
            QElapsedTimer clock;
            clock.start();
            (void)test::awaitTask(source->scan(true), 60s);
            openMs += double(clock.nsecsElapsed()) / 1e6;
        }
        report(QStringLiteral("panel_open_to_detailed_rows_%1_%2_sockets%3").arg(kind).arg(sockets).arg(suffix),
               openMs / runs, "ms");
    }
}

void groupFigure()
{
    // 1000 entries on 250 ports: families of four sharing a socket, with
    // unrelated processes on every fifth port.
    QList<PortEntry> entries;
    for (int i = 0; i < 1000; ++i) {
        PortEntry entry;
        entry.port = 3000 + i / 4;
        entry.pid = 10000 + i;
        const bool unrelated = entry.port % 5 == 0;
        entry.ppid = unrelated || i % 4 == 0 ? 1 : 10000 + i - i % 4;
        entry.processName = entry.binaryPath = QStringLiteral("server");
        entry.devices = {QStringLiteral("0x%1").arg(unrelated ? i : i / 4, 0, 16)};
        entries.append(entry);
    }
    constexpr int runs = 200;
    qsizetype groups = 0;
    const Cost cost = measure(runs, [&] { groups += PortGroup::group(entries).size(); });
    report(QStringLiteral("group_1000_entries"), cost.wallMs * 1000.0, "µs");
    if (groups == 0)
        std::fprintf(stderr, "no groups\n");
}

// One port shared by a parent and 1999 workers (php-fpm, gunicorn, a Node cluster).
void groupSharersFigure()
{
    QList<PortEntry> entries;
    for (int i = 0; i < 2000; ++i) {
        PortEntry entry;
        entry.port = 9000;
        entry.pid = 20000 + i;
        entry.ppid = i == 0 ? 1 : 20000;
        entry.processName = entry.binaryPath = QStringLiteral("php-fpm");
        entry.devices = {QStringLiteral("0xabc")};
        entries.append(entry);
    }
    constexpr int runs = 50;
    qsizetype groups = 0;
    const Cost cost = measure(runs, [&] { groups += PortGroup::group(entries).size(); });
    report(QStringLiteral("group_2000_sharers"), cost.wallMs, "ms");
    if (groups != runs + 1)
        std::fprintf(stderr, "sharers split into several groups\n");
}

// The monitor as it runs most of the day: panel closed, a cycle every 4 s,
// `sockets` listeners held by helpers inside the monitored range. CPU
// includes the tool runs it starts.
void idleMonitorFigures(const QString& kind, int sockets)
{
    constexpr int seconds = 60;
    // Few helper processes: every one the harness holds costs its event loop a
    // descriptor to poll, which is no cost of the monitor.
    ListenerFarm farm;
    if (!farm.start(sockets, std::max(10, sockets / 10))) {
        std::fprintf(stderr, "could not start listeners\n");
        return;
    }
    QTemporaryDir dir;
    MemoryDefaultsStore store;
    AppSettings settings(store);
    settings.setScanInterval(4.0);
    settings.setMonitoredRange(QStringLiteral("1-65535"));
    MonitorServices services = MonitorServices::system();
    services.scanner = makeSource(kind);
    services.historyFile = dir.filePath(QStringLiteral("port-history.json"));
    PortMonitor monitor(settings, std::move(services));

    int cycles = 0;
    QObject::connect(&monitor, &PortMonitor::isScanningChanged,
                     [&] { cycles += monitor.isScanning() ? 0 : 1; });
    // Steady state only: the first cycle (history load, the first /proc walk) is left out.
    monitor.start();
    if (!test::waitUntil([&] { return cycles > 0; }, 30s)) {
        std::fprintf(stderr, "no first cycle\n");
        return;
    }
    cycles = 0;
    const double cpuBefore = cpuMs();
    QEventLoop loop;
    QTimer::singleShot(std::chrono::seconds(seconds), &loop, &QEventLoop::quit);
    loop.exec();
    const double cpuSeconds = (cpuMs() - cpuBefore) / 1000.0;
    const QString name = QStringLiteral("monitor_%1_%2_sockets").arg(kind).arg(sockets);
    report(name + "_closed_panel_cpu_per_hour", cpuSeconds * 3600.0 / seconds, "s");
    report(name + "_cycles", cycles, "cycles");
    report(name + "_resident_memory", bench::residentMiB(), "MiB");
}

// The main thread's share of a history load (the call itself) and the time
// until the map is filled, for a large file of ours and for a 100 MB one.
void historyLoadFigures()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("port-history.json"));
    const ReferenceTime now = currentReferenceTime();
    QList<PortHistoryEntry> entries;
    for (int i = 0; i < 100000; ++i)
        entries.append({i, QStringLiteral("process %1").arg(i), now - 60, now - 30, true});
    const QByteArray huge = '[' + QByteArray(100 * 1024 * 1024, ' ') + ']';
    for (const auto& [name, content] :
         {std::pair{"100000_entries", PortHistory::encode(entries)}, std::pair{"100MB_file", huge}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return;
        file.close();
        double callMs = 0;
        const Cost cost = measure(3, [&] {
            PortHistory history(path);
            QElapsedTimer call;
            call.start();
            history.load(15);
            callMs = double(call.nsecsElapsed()) / 1e6;
            history.waitForLoad();
        });
        report(QStringLiteral("history_load_%1_main_thread").arg(name), callMs, "ms");
        report(QStringLiteral("history_load_%1_ready").arg(name), cost.wallMs, "ms");
    }
}

const std::vector<bench::Figure> figures{
    {"scan_10", [] { scanFigures(10); }},
    {"scan_100", [] { scanFigures(100); }},
    {"scan_1000", [] { scanFigures(1000); }},
    {"scan_100_crowd", [] { scanFigures(100, 500); }},
    {"group", groupFigure},
    {"group_sharers", groupSharersFigure},
    {"history", historyLoadFigures},
    {"monitor_lsof_10", [] { idleMonitorFigures(QStringLiteral("lsof"), 10); }},
    {"monitor_netlink_10", [] { idleMonitorFigures(QStringLiteral("netlink"), 10); }},
    {"monitor_lsof_1000", [] { idleMonitorFigures(QStringLiteral("lsof"), 1000); }},
    {"monitor_netlink_1000", [] { idleMonitorFigures(QStringLiteral("netlink"), 1000); }},
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return bench::runFigures(figures);
}
