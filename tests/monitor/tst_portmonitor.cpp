#include "EntryText.h"
#include "TestSupport.h"
#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <limits>
#include <qcoro/qcorotimer.h>

using namespace std::chrono_literals;
using namespace varlo;
using varlo::test::awaitTask;

namespace {

PortEntry entry(qint64 port, qint64 pid, qint64 ppid = 0)
{
    PortEntry e = test::entry(port, pid, ppid);
    e.processName = e.binaryPath = QStringLiteral("node");
    return e;
}

// Scans hand out `results` one by one (the last repeats), unless told to fail;
// every call is logged.
struct Script : PortSource
{
    QList<QList<PortEntry>> results;
    int failures = 0; // the next scans that fail
    std::chrono::milliseconds scanDelay{0}, detailDelay{0};
    QStringList log;
    TunnelMap tunnels;
    DockerContainers containers;
    std::optional<QString> vpn;
    std::optional<ProcessDetail> detail = ProcessDetail{1.5, 4096, 60, "node"};

    template<typename T> QCoro::Task<T> answer(QString call, T value, std::chrono::milliseconds delay = 0ms)
    {
        log.append(call);
        if (delay > 0ms)
            co_await QCoro::sleepFor(delay);
        co_return value;
    }
    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool details) override
    {
        std::optional<QList<PortEntry>> result;
        if (failures > 0)
            --failures;
        else
            result = results.size() > 1 ? results.takeFirst() : results.value(0);
        return answer(details ? "scan+" : "scan", result, scanDelay);
    }
};

struct Fixture
{
    QTemporaryDir dir;
    MemoryDefaultsStore store;
    AppSettings settings{store};
    Script* s = new Script;
    std::unique_ptr<PortMonitor> monitor;

    explicit Fixture(QList<QList<PortEntry>> results)
    {
        s->results = std::move(results);
        settings.setNotifyOnNewPort(true);
        MonitorServices m;
        m.scanner.reset(s);
        m.historyFile = dir.filePath(QStringLiteral("port-history.json"));
        m.detectTunnels = [s = s](int) { return s->answer("tunnels", s->tunnels); };
        m.detectContainers = [s = s] { return s->answer("containers", s->containers); };
        m.detectVPN = [s = s] { return s->answer("vpn", s->vpn); };
        m.processDetail = [s = s](qint64) { return s->answer("detail", s->detail, s->detailDelay); };
        m.stopContainer = [s = s](QString name) { return s->answer("stop " + name, true); };
        m.terminate = [s = s](qint32 pid) {
            return s->answer(QStringLiteral("terminate %1").arg(pid), true);
        };
        m.killGroup = [s = s](std::optional<qint64>, QList<qint32> pids, qint64) {
            return s->answer(QStringLiteral("group %1,%2").arg(pids.value(0)).arg(pids.value(1)), true);
        };
        m.notifyNewPorts = [s = s](const QList<PortEntry>& fresh) {
            s->log.append(QStringLiteral("notify %1x%2").arg(fresh.size()).arg(fresh.value(0).port));
        };
        monitor = std::make_unique<PortMonitor>(settings, std::move(m));
        monitor->history().waitForLoad();
    }

    bool refresh() { return awaitTask(monitor->refresh(), 10s); }
    bool openPanel()
    {
        monitor->setPanelOpen(true);
        return test::waitUntil([&] { return monitor->hasLoadedOnce() && !monitor->isScanning(); }, 5s);
    }
};

} // namespace

class PortMonitorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newPortsAndGroupCounts()
    {
        // A parent with three workers is one group; 22 is outside the range.
        const QList<PortEntry> base{entry(3000, 10),       entry(8000, 100),      entry(8000, 101, 100),
                                    entry(8000, 102, 100), entry(8000, 103, 100), entry(22, 5)};
        Fixture f({base,
                   base + QList{entry(3001, 11), entry(3001, 12)},
                   base + QList{entry(3001, 11)},
                   {entry(3000, 10)},
                   {entry(3000, 99), entry(3001, 11)}}); // 3001 back, 3000 under a new pid
        QList<qint64> counts;
        f.monitor->setOnPortsChanged([&](qint64 n) { counts.append(n); });
        for (int i = 0; i < 5; ++i)
            QVERIFY(f.refresh());
        QCOMPARE(f.s->log.filter("notify"), (QStringList{"notify 2x3001", "notify 1x3001"}));
        QCOMPARE(counts, (QList<qint64>{2, 4, 3, 1, 2}));
        QVERIFY(f.monitor->history().byPort().value(3001).isActive);
    }

    void failedScansChangeNothing()
    {
        Fixture f({{entry(3000, 10)}, {entry(3000, 10)}, {entry(3000, 10), entry(3001, 11)}});
        f.s->failures = 1;
        QVERIFY(f.refresh()); // a failed first cycle is no baseline
        QVERIFY(f.monitor->lastScanFailed() && f.monitor->hasLoadedOnce());
        QVERIFY(!f.monitor->hasCompletedFirstScan());
        QVERIFY(f.refresh());
        QVERIFY(!f.monitor->lastScanFailed());
        QVERIFY(f.monitor->history().byPort().value(3000).isActive);
        const int writes = f.monitor->history().writesStarted();

        QSignalSpy ports(f.monitor.get(), &PortMonitor::portsChanged);
        QSignalSpy known(f.monitor.get(), &PortMonitor::knownPortsChanged);
        QSignalSpy history(&f.monitor->history(), &PortHistory::byPortChanged);
        QList<qint64> counts;
        f.monitor->setOnPortsChanged([&](qint64 n) { counts.append(n); });
        f.s->failures = 1;
        QVERIFY(f.refresh());
        QVERIFY(f.monitor->lastScanFailed());
        QCOMPARE(f.monitor->ports().size(), 1);
        QVERIFY(ports.isEmpty() && known.isEmpty() && history.isEmpty() && counts.isEmpty());
        QVERIFY(f.monitor->history().byPort().value(3000).isActive);
        QCOMPARE(f.monitor->history().writesStarted(), writes);

        QVERIFY(f.refresh());
        QVERIFY(f.refresh());
        QCOMPARE(f.s->log.filter("notify"), QStringList{"notify 1x3001"});
        QCOMPARE(f.monitor->history().writesStarted(), writes + 1);
    }

    // The same listeners again (with fresh ids) publish nothing and redraw nothing;
    // a change of any field does.
    void unchangedListenersPublishNothing()
    {
        PortEntry moved = entry(3000, 10);
        moved.workingDirectory = QStringLiteral("/srv");
        Fixture f({{entry(3000, 10)}, {entry(3000, 10)}, {entry(3000, 10)}, {moved}});
        QVERIFY(f.refresh());
        const QUuid first = f.monitor->ports().constFirst().id;
        QSignalSpy ports(f.monitor.get(), &PortMonitor::portsChanged);
        QList<qint64> counts;
        f.monitor->setOnPortsChanged([&](qint64 n) { counts.append(n); });
        QVERIFY(f.refresh());
        QVERIFY(f.refresh());
        QVERIFY(ports.isEmpty());
        QCOMPARE(f.monitor->ports().constFirst().id, first);
        QCOMPARE(counts, (QList<qint64>{1, 1}));
        QVERIFY(f.refresh());
        QCOMPARE(ports.size(), 1);
        QCOMPARE(f.monitor->ports().constFirst().workingDirectory, QStringLiteral("/srv"));
    }

    void refreshesDuringACycleQueueExactlyOneMore()
    {
        Fixture f({{entry(3000, 10)}});
        f.s->scanDelay = 100ms;
        auto running = f.monitor->refresh();
        for (int i = 0; i < 5; ++i)
            QVERIFY(awaitTask(f.monitor->refresh(), 1s)); // returns at once, only queues
        QVERIFY(f.monitor->rescanQueued());
        QVERIFY(awaitTask(std::move(running), 5s));
        QCOMPARE(f.s->log, (QStringList{"scan", "scan"}));
        QVERIFY(!f.monitor->isScanning() && !f.monitor->rescanQueued());
    }

    void scanInterval_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<double>("effective");
        QTest::newRow("short") << 0.05 << 0.05;
        QTest::newRow("zero") << 0.0 << 4.0;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 4.0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 4.0;
    }
    void scanInterval()
    {
        QFETCH(double, stored);
        QFETCH(double, effective);
        Fixture f({{entry(3000, 10)}});
        f.settings.setScanInterval(stored);
        QCOMPARE(f.monitor->effectiveScanInterval(), effective);
        f.monitor->start();
        QTest::qWait(400); // a spinning loop would scan thousands of times here
        QVERIFY(effective < 1 ? f.s->log.size() >= 3 && f.s->log.size() < 10 : f.s->log.size() == 1);
    }

    void contextFollowsPanelAndSettings()
    {
        Fixture f({{entry(3000, 10)}});
        f.s->tunnels = {{3000, TunnelInfo{TunnelInfo::Provider::ngrok, "https://a.example"}}};
        f.s->containers = {{3000, DockerInfo{"web", "nginx", {}, {}}}};
        f.s->vpn = "Office";
        QVERIFY(f.openPanel());
        f.monitor->setPanelOpen(false);
        f.s->vpn.reset();
        QVERIFY(f.refresh()); // closed: a cheap scan that keeps the last context
        // The lookups start before the scan, not after it.
        QCOMPARE(f.s->log, (QStringList{"tunnels", "containers", "vpn", "scan+", "scan"}));
        QCOMPARE(f.monitor->vpnName(), std::optional<QString>("Office"));
        QVERIFY(f.monitor->tunnels().size() == 1 && f.monitor->dockerContainers().size() == 1);

        f.settings.setTunnelDetectionEnabled(false);
        f.settings.setDockerDetectionEnabled(false);
        QVERIFY(f.openPanel());
        QCOMPARE(f.s->log.mid(5), (QStringList{"vpn", "scan+"}));
        QVERIFY(f.monitor->tunnels().isEmpty() && f.monitor->dockerContainers().isEmpty());
    }

    void expandedRow()
    {
        Fixture f({{entry(3000, 10)}});
        QVERIFY(f.openPanel());
        f.s->detailDelay = 100ms;
        auto loading = f.monitor->toggleExpand(entry(3000, 10));
        QVERIFY(f.monitor->expandedDetailState()->isLoading());
        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 10)), 1s)); // collapse while loading
        QVERIFY(awaitTask(std::move(loading), 5s));
        QVERIFY(!f.monitor->expandedPID() && !f.monitor->expandedDetailState()); // the late result is dropped

        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 10)), 5s));
        f.s->detail->cpuPercent = 9.0;
        auto refreshing = f.monitor->refresh();
        QCOMPARE(f.monitor->expandedDetailState()->detail()->cpuPercent, 1.5); // old figures while loading
        QVERIFY(awaitTask(std::move(refreshing), 5s));
        QCOMPARE(f.monitor->expandedDetailState()->detail()->cpuPercent, 9.0);

        // Collapsed while a cycle fetches the detail: the cycle's late result is dropped too.
        const qsizetype logged = f.s->log.size();
        auto cycle = f.monitor->refresh();
        QVERIFY(test::waitUntil([&] { return f.s->log.size() > logged && f.s->log.endsWith("detail"); }, 5s));
        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 10)), 1s));
        QVERIFY(awaitTask(std::move(cycle), 5s));
        QVERIFY(!f.monitor->expandedPID() && !f.monitor->expandedDetailState());

        f.s->results = {{entry(3000, 11)}}; // the process went away
        QVERIFY(f.refresh());
        QVERIFY(!f.monitor->expandedPID() && !f.monitor->expandedDetailState());
        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 11)), 5s));
        f.monitor->setPanelOpen(false);
        QVERIFY(!f.monitor->expandedPID() && !f.monitor->expandedDetailState());
    }

    void killChoosesContainerGroupOrProcess()
    {
        Fixture f(
            {{entry(3000, 10), entry(8000, 20), entry(8000, 21, 20), entry(8080, 30), entry(8081, 31)}});
        f.s->containers = {{8080, DockerInfo{"web", "nginx", {}, {}}},
                           {8081, DockerInfo{"web", "nginx", {}, {}}}};
        QVERIFY(f.openPanel());
        const QList<PortGroup> groups = PortGroup::group(f.monitor->ports());
        QVERIFY(awaitTask(f.monitor->kill(groups.at(0)), 5s));
        QVERIFY(awaitTask(f.monitor->kill(groups.at(2)), 5s));
        QVERIFY(awaitTask(f.monitor->killAll(), 5s)); // one stop for both ports of the container
        QCOMPARE(f.s->log.filter(QRegularExpression("^(stop|terminate|group)")),
                 (QStringList{"terminate 10", "stop web", "stop web", "terminate 10", "group 20,21"}));
    }
};

QTEST_GUILESS_MAIN(PortMonitorTest)
#include "tst_portmonitor.moc"
