// The monitor with the real scanner, process manager and report tool, against
// processes this test starts on its own loopback ports.
#include "TestSupport.h"
#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace varlo;
using varlo::test::awaitTask;
using varlo::test::TestListener;
using varlo::test::waitUntil;

class MonitorEndToEndTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    MemoryDefaultsStore m_store;
    AppSettings m_settings{m_store};

    static std::optional<PortGroup> groupOn(const PortMonitor& monitor, quint16 port)
    {
        for (const PortGroup& group : PortGroup::group(monitor.ports())) {
            if (group.port == port)
                return group;
        }
        return std::nullopt;
    }

private Q_SLOTS:
    void killEndsASingleProcessAndAWorkerFamily()
    {
        const QList<quint16> ports = varlo::test::freeLoopbackPorts(2);
        TestListener single;
        TestListener family;
        QVERIFY(single.start({ports[0]}));
        QVERIFY(family.start({ports[1]}, TestListener::Options::withWorkers(2)));
        m_settings.setMonitoredRange(QStringLiteral("%1,%2").arg(ports[0]).arg(ports[1]));
        MonitorServices services = MonitorServices::system();
        services.historyFile = m_dir.filePath(QStringLiteral("port-history.json"));
        auto monitor = std::make_unique<PortMonitor>(m_settings, std::move(services));
        monitor->setPanelOpen(true);
        QVERIFY(waitUntil([&] { return monitor->hasLoadedOnce() && !monitor->isScanning(); }, 20s));
        const auto singleGroup = groupOn(*monitor, ports[0]);
        const auto familyGroup = groupOn(*monitor, ports[1]);
        QVERIFY(singleGroup && familyGroup);
        QCOMPARE(familyGroup->members.size(), 3);
        QCOMPARE(familyGroup->primaryPID, std::optional<qint64>(family.pid()));

        QVERIFY(awaitTask(monitor->kill(*singleGroup), 20s));
        QVERIFY(waitUntil([&] { return !TestListener::isAlive(single.pid()); }, 5s));
        QVERIFY(!groupOn(*monitor, ports[0]));
        QVERIFY(awaitTask(monitor->kill(*familyGroup), 20s));
        for (qint64 pid : family.allPids())
            QVERIFY(waitUntil([&] { return !TestListener::isAlive(pid); }, 5s));
        QVERIFY(!groupOn(*monitor, ports[1]));
    }

    void reportToolPrintsTheListener()
    {
        const quint16 port = varlo::test::freeLoopbackPort();
        TestListener listener;
        QVERIFY(listener.start({port}, TestListener::Options::withWorkers(1)));

        QTemporaryDir config;
        QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("Varlo"))));
        QFile settings(config.filePath(QStringLiteral("Varlo/settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{"monitoredRange", QString::number(port)},
                                                 {"dockerDetectionEnabled", false},
                                                 {"tunnelDetectionEnabled", false}})
                           .toJson());
        settings.close();

        QProcess report;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), config.path());
        report.setProcessEnvironment(environment);
        report.start(QStringLiteral(VARLO_REPORT), {});
        QVERIFY(report.waitForFinished(30000));
        QVERIFY(report.exitStatus() == QProcess::NormalExit && report.exitCode() == 0);

        const QJsonObject document = QJsonDocument::fromJson(report.readAllStandardOutput()).object();
        const QJsonArray groups = document.value("groups").toArray();
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups[0]["port"].toInteger(), port);
        QCOMPARE(groups[0]["primaryPID"].toInteger(), listener.pid());
        QCOMPARE(groups[0]["members"].toArray().size(), 2);
        QCOMPARE(document["settings"]["monitoredRange"], QJsonValue(QString::number(port)));
        QVERIFY(!QFile::exists(config.filePath(QStringLiteral("Varlo/port-history.json"))));
    }
};

QTEST_GUILESS_MAIN(MonitorEndToEndTest)
#include "tst_monitorendtoend.moc"
