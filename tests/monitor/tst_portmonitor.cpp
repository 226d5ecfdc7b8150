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

PortEntry entry(qint64 port, qint64 pid, qint64 ppid = 0, const QString& name = QStringLiteral("node"))
{
    PortEntry e;
    e.port = port;
    e.pid = pid;
    e.ppid = ppid;
    e.processName = name;
    e.binaryPath = name;
    return e;
}

// Hands out scripted scan results, one per scan; the last one repeats.
class ScriptedSource : public PortSource
{
public:
    QList<QList<PortEntry>> results;
    std::chrono::milliseconds delay{0};
    int scans = 0;
    QList<bool> detailFlags;

    QCoro::Task<QList<PortEntry>> scan(bool includeDetails) override
    {
        ++scans;
        detailFlags.append(includeDetails);
        const QList<PortEntry> result = results.size() > 1 ? results.takeFirst() : results.value(0);
        if (delay > 0ms)
            co_await QCoro::sleepFor(delay);
        co_return result;
    }
};

// Counts every service call; each answers with what the test set.
struct Calls
{
    int tunnels = 0;
    int containers = 0;
    int vpn = 0;
    int details = 0;
    QStringList stopped;
    QList<qint32> terminated;
    QList<QList<qint32>> killedGroups;
    QList<QList<PortEntry>> notified;
    TunnelMap tunnelAnswer;
    DockerContainers containerAnswer;
    std::optional<QString> vpnAnswer;
    std::optional<ProcessDetail> detailAnswer;
    std::chrono::milliseconds detailDelay{0};
};

template<typename T> QCoro::Task<T> answerLater(T value, std::chrono::milliseconds delay)
{
    if (delay > 0ms)
        co_await QCoro::sleepFor(delay);
    co_return value;
}

class MonitorFixture
{
public:
    explicit MonitorFixture(bool notify = true)
    {
        settings.setNotifyOnNewPort(notify);
        MonitorServices services;
        auto owned = std::make_unique<ScriptedSource>();
        source = owned.get();
        services.scanner = std::move(owned);
        services.historyFile = dir.filePath(QStringLiteral("port-history.json"));
        Calls* c = &calls;
        services.detectTunnels = [c](int) {
            ++c->tunnels;
            return answerLater(c->tunnelAnswer, 0ms);
        };
        services.detectContainers = [c] {
            ++c->containers;
            return answerLater(c->containerAnswer, 0ms);
        };
        services.detectVPN = [c] {
            ++c->vpn;
            return answerLater(c->vpnAnswer, 0ms);
        };
        services.processDetail = [c](qint64) {
            ++c->details;
            return answerLater(c->detailAnswer, c->detailDelay);
        };
        services.stopContainer = [c](QString name) {
            c->stopped.append(name);
            return answerLater(true, 0ms);
        };
        services.terminate = [c](qint32 pid) {
            c->terminated.append(pid);
            return answerLater(true, 0ms);
        };
        services.killGroup = [c](std::optional<qint64>, QList<qint32> pids, qint64) {
            c->killedGroups.append(pids);
            return answerLater(true, 0ms);
        };
        services.notifyNewPorts = [c](const QList<PortEntry>& entries) { c->notified.append(entries); };
        monitor = std::make_unique<PortMonitor>(settings, std::move(services));
    }

    bool refresh() { return awaitTask(monitor->refresh(), 10s); }

    QTemporaryDir dir;
    MemoryDefaultsStore store;
    AppSettings settings{store};
    Calls calls;
    ScriptedSource* source = nullptr;
    std::unique_ptr<PortMonitor> monitor;
};

QList<qint64> portsOf(const QList<PortEntry>& entries)
{
    QList<qint64> ports;
    for (const PortEntry& e : entries)
        ports.append(e.port);
    return ports;
}

} // namespace

class PortMonitorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newPortsAreHandedOnOnceAfterTheFirstCycle()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)},
                             {entry(3000, 10), entry(3001, 11), entry(3001, 12)},
                             {entry(3000, 10), entry(3001, 11)},
                             {entry(3000, 10)},
                             {entry(3000, 99), entry(3001, 11)}};
        QVERIFY(f.refresh());
        QVERIFY(f.calls.notified.isEmpty()); // the first cycle only learns what is there
        QVERIFY(f.monitor->hasLoadedOnce());

        QVERIFY(f.refresh());
        QCOMPARE(f.calls.notified.size(), 1);
        QCOMPARE(portsOf(f.calls.notified.constFirst()), (QList<qint64>{3001, 3001})); // both holders

        QVERIFY(f.refresh());
        QCOMPARE(f.calls.notified.size(), 1);
        QVERIFY(f.refresh()); // 3001 gone
        QVERIFY(f.refresh()); // back again, 3000 restarted under a new pid
        QCOMPARE(f.calls.notified.size(), 2);
        QCOMPARE(portsOf(f.calls.notified.last()), QList<qint64>{3001});
    }

    void switchingNotificationsOnDoesNotReportExistingPorts()
    {
        MonitorFixture f(false);
        f.source->results = {{entry(3000, 10)}, {entry(3000, 10)}};
        QVERIFY(f.refresh());
        f.settings.setNotifyOnNewPort(true);
        QVERIFY(f.refresh());
        QVERIFY(f.calls.notified.isEmpty());
    }

    void refreshesDuringACycleQueueExactlyOneMore()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)}};
        f.source->delay = 100ms;
        auto running = f.monitor->refresh();
        QVERIFY(f.monitor->isScanning());
        for (int i = 0; i < 5; ++i)
            QVERIFY(awaitTask(f.monitor->refresh(), 1s)); // returns at once, only queues
        QVERIFY(f.monitor->rescanQueued());
        QVERIFY(awaitTask(std::move(running), 5s));
        QCOMPARE(f.source->scans, 2);
        QVERIFY(!f.monitor->isScanning());
        QVERIFY(!f.monitor->rescanQueued());
    }

    void reportsTheNumberOfGroups()
    {
        MonitorFixture f;
        // A parent with three workers is one group; 22 is outside the range.
        f.source->results = {{entry(8000, 100), entry(8000, 101, 100), entry(8000, 102, 100),
                              entry(8000, 103, 100), entry(3000, 7), entry(22, 5)},
                             {}};
        QList<qint64> counts;
        f.monitor->setOnPortsChanged([&](qint64 n) { counts.append(n); });
        QVERIFY(f.refresh());
        QVERIFY(f.refresh());
        QCOMPARE(counts, (QList<qint64>{2, 0}));
    }

    void invalidScanIntervalFallsBackToDefault_data()
    {
        QTest::addColumn<double>("stored");
        QTest::newRow("zero") << 0.0;
        QTest::newRow("negative") << -1.0;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
    }
    void invalidScanIntervalFallsBackToDefault()
    {
        QFETCH(double, stored);
        MonitorFixture f;
        f.settings.setScanInterval(stored);
        QCOMPARE(f.monitor->effectiveScanInterval(), 4.0);
        f.source->results = {{entry(3000, 10)}};
        f.monitor->start();
        QTest::qWait(400); // a spinning loop would scan thousands of times here
        QCOMPARE(f.source->scans, 1);
    }

    void shortIntervalKeepsScanning()
    {
        MonitorFixture f;
        f.settings.setScanInterval(0.05);
        f.source->results = {{entry(3000, 10)}};
        f.monitor->start();
        QVERIFY(varlo::test::waitUntil([&] { return f.source->scans >= 3; }, 3s));
    }

    void closedPanelScansCheaplyAndKeepsContext()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)}};
        f.calls.tunnelAnswer = {
            {3000, TunnelInfo{TunnelInfo::Provider::ngrok, QStringLiteral("https://a.example")}}};
        f.calls.vpnAnswer = QStringLiteral("Office");
        f.monitor->setPanelOpen(true);
        QVERIFY(varlo::test::waitUntil([&] { return f.monitor->hasLoadedOnce() && !f.monitor->isScanning(); },
                                       5s));
        QCOMPARE(f.monitor->vpnName(), std::optional<QString>(QStringLiteral("Office")));
        QCOMPARE(f.monitor->tunnels().size(), 1);

        f.monitor->setPanelOpen(false);
        f.calls.vpnAnswer.reset();
        QVERIFY(f.refresh());
        QCOMPARE(f.source->detailFlags, (QList<bool>{true, false}));
        QCOMPARE(f.calls.vpn, 1);
        QCOMPARE(f.monitor->vpnName(), std::optional<QString>(QStringLiteral("Office")));
        QCOMPARE(f.monitor->tunnels().size(), 1);
    }

    void disabledDetectorsPublishEmptyMapsWithoutRunning()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)}};
        f.calls.tunnelAnswer = {
            {3000, TunnelInfo{TunnelInfo::Provider::ngrok, QStringLiteral("https://a.example")}}};
        f.calls.containerAnswer = {
            {3000, DockerInfo{QStringLiteral("web"), QStringLiteral("nginx"), {}, {}}}};
        f.monitor->setPanelOpen(true);
        QVERIFY(varlo::test::waitUntil(
            [&] { return !f.monitor->tunnels().isEmpty() && !f.monitor->isScanning(); }, 5s));

        f.settings.setTunnelDetectionEnabled(false);
        f.settings.setDockerDetectionEnabled(false);
        QVERIFY(f.refresh());
        QCOMPARE(f.calls.tunnels, 1);
        QCOMPARE(f.calls.containers, 1);
        QVERIFY(f.monitor->tunnels().isEmpty());
        QVERIFY(f.monitor->dockerContainers().isEmpty());
    }

    void expandedRowFollowsThePanelAndTheProcess()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)}};
        f.calls.detailAnswer = ProcessDetail{1.5, 4096, 60, QStringLiteral("node server.js")};
        f.monitor->setPanelOpen(true);
        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 10)), 5s));
        QVERIFY(f.monitor->expandedDetailState()->detail());

        // A refresh keeps the old figures visible until the new ones arrive.
        QSignalSpy states(f.monitor.get(), &PortMonitor::expandedDetailStateChanged);
        f.calls.detailAnswer->cpuPercent = 9.0;
        QVERIFY(f.refresh());
        QCOMPARE(states.size(), 1);
        QCOMPARE(f.monitor->expandedDetailState()->detail()->cpuPercent, 9.0);

        f.source->results = {{entry(3000, 11)}}; // the process went away
        QVERIFY(f.refresh());
        QVERIFY(!f.monitor->expandedPID());
        QVERIFY(!f.monitor->expandedDetailState());

        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 11)), 5s));
        f.monitor->setPanelOpen(false);
        QVERIFY(!f.monitor->expandedPID());
        QVERIFY(!f.monitor->expandedDetailState());
    }

    void collapsingWhileLoadingDropsTheLateResult()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)}};
        f.calls.detailAnswer = ProcessDetail{1.5, 4096, 60, QStringLiteral("node")};
        f.calls.detailDelay = 100ms;
        auto loading = f.monitor->toggleExpand(entry(3000, 10));
        QVERIFY(f.monitor->expandedDetailState()->isLoading());
        QVERIFY(awaitTask(f.monitor->toggleExpand(entry(3000, 10)), 1s)); // collapse
        QVERIFY(awaitTask(std::move(loading), 5s));
        QVERIFY(!f.monitor->expandedPID());
        QVERIFY(!f.monitor->expandedDetailState());
    }

    void killChoosesContainerGroupOrProcess()
    {
        MonitorFixture f;
        f.source->results = {
            {entry(3000, 10), entry(8000, 20), entry(8000, 21, 20), entry(8080, 30), entry(8081, 31)}};
        // Two ports of one container, one of another.
        f.calls.containerAnswer = {
            {8080, DockerInfo{QStringLiteral("web"), QStringLiteral("nginx"), {}, {}}},
            {8081, DockerInfo{QStringLiteral("web"), QStringLiteral("nginx"), {}, {}}}};
        f.monitor->setPanelOpen(true);
        QVERIFY(varlo::test::waitUntil(
            [&] { return !f.monitor->dockerContainers().isEmpty() && !f.monitor->isScanning(); }, 5s));

        const QList<PortGroup> groups = PortGroup::group(f.monitor->ports());
        QVERIFY(awaitTask(f.monitor->kill(groups.at(0)), 5s));
        QCOMPARE(f.calls.terminated, QList<qint32>{10});
        QVERIFY(awaitTask(f.monitor->kill(groups.at(2)), 5s));
        QCOMPARE(f.calls.stopped, QStringList{QStringLiteral("web")});

        f.calls.stopped.clear();
        f.calls.terminated.clear();
        QVERIFY(awaitTask(f.monitor->killAll(), 5s));
        QCOMPARE(f.calls.stopped, QStringList{QStringLiteral("web")}); // once for both ports
        QCOMPARE(f.calls.terminated, QList<qint32>{10});
        QCOMPARE(f.calls.killedGroups, (QList<QList<qint32>>{{20, 21}}));
    }

    void historyIsRecordedEveryCycle()
    {
        MonitorFixture f;
        f.source->results = {{entry(3000, 10)}, {}};
        QVERIFY(f.refresh());
        QVERIFY(f.monitor->history().byPort().value(3000).isActive);
        QVERIFY(f.refresh());
        QVERIFY(!f.monitor->history().byPort().value(3000).isActive);
    }
};

QTEST_GUILESS_MAIN(PortMonitorTest)
#include "tst_portmonitor.moc"
