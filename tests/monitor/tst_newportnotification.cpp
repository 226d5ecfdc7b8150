// A port that starts listening while the monitor runs reaches the desktop's
// notification service exactly once, through the real scanner.
#include "FakeNotificationServer.h"
#include "TestSupport.h"
#include "monitor/PortMonitor.h"
#include "services/PortNotifier.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace varlo;
using namespace varlo::test;

class NewPortNotificationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listenerStartedAfterTheFirstCycleIsAnnouncedOnce()
    {
        FakeServer server(QStringLiteral("fake-notification-server"));
        QVERIFY(server.start());

        const QList<quint16> ports = freeLoopbackPorts(2);
        TestListener before;
        QVERIFY(before.start({ports[0]}));

        QTemporaryDir dir;
        MemoryDefaultsStore store;
        AppSettings settings(store);
        settings.setMonitoredRange(QStringLiteral("%1,%2").arg(ports[0]).arg(ports[1]));
        settings.setNotifyOnNewPort(true);
        settings.setScanInterval(0.2);
        PortNotifier notifier;
        MonitorServices services = MonitorServices::system();
        services.historyFile = dir.filePath(QStringLiteral("port-history.json"));
        services.notifyNewPorts = [&notifier](const QList<PortEntry>& entries) { notifier.notify(entries); };
        PortMonitor monitor(settings, std::move(services));
        monitor.start();
        QVERIFY(waitUntil([&] { return monitor.hasCompletedFirstScan(); }, 10s));

        TestListener after; // lsof prints this name escaped
        TestListener::Options named;
        named.name = "my dev srv";
        QVERIFY(after.start({ports[1]}, named));
        QVERIFY(waitUntil([&] { return !server.calls.isEmpty(); }, 10s));
        QTest::qWait(1000); // several more cycles: nothing else is announced

        QCOMPARE(server.calls.size(), 1);
        QCOMPARE(server.calls.first().summary, QStringLiteral("Port opened"));
        QCOMPARE(server.calls.first().body, QStringLiteral("my dev srv started on :%1").arg(ports[1]));
    }
};

QTEST_GUILESS_MAIN(NewPortNotificationTest)
#include "tst_newportnotification.moc"
