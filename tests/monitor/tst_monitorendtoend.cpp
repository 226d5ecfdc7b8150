// The monitor with the real scanner, process manager and report tool, against
// processes this test starts on its own loopback ports.
#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace varlo;
using varlo::test::TestListener;
using varlo::test::awaitTask;

namespace {

QString rangeOf(const QList<quint16>& ports)
{
    QStringList pieces;
    for (quint16 port : ports)
        pieces.append(QString::number(port));
    return pieces.join(u',');
}

std::optional<PortGroup> groupOn(const PortMonitor& monitor, quint16 port)
{
    for (const PortGroup& group : PortGroup::group(monitor.ports())) {
        if (group.port == port)
            return group;
    }
    return std::nullopt;
}

} // namespace

class MonitorEndToEndTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<PortMonitor> makeMonitor(AppSettings& settings, MonitorServices services)
    {
        services.historyFile = m_dir.filePath(QStringLiteral("port-history.json"));
        return std::make_unique<PortMonitor>(settings, std::move(services));
    }

    // A docker client that publishes `ports` from one container "web" and
    // records every stop it is asked for.
    QString writeFakeDocker(const QList<quint16>& ports)
    {
        QString listing;
        for (quint16 port : ports)
            listing += QStringLiteral("web\tnginx:1\tUp 2 minutes\t127.0.0.1:%1->80/tcp\tshop\n").arg(port);
        const QString path = m_dir.filePath(QStringLiteral("docker"));
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "if [ \"$1\" = ps ]; then printf '%1'; exit 0; fi\n"
                                    "if [ \"$1\" = stop ]; then echo \"$@\" >> '%2'; eval echo \\${$#}; fi\n")
                         .arg(listing, stopLog())
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString stopLog() const { return m_dir.filePath(QStringLiteral("stops.log")); }

private Q_SLOTS:
    void killEndsASingleProcessAndAWorkerFamily()
    {
        const QList<quint16> ports = varlo::test::freeLoopbackPorts(2);
        TestListener single;
        TestListener family;
        QVERIFY(single.start({ports[0]}));
        QVERIFY(family.start({ports[1]}, TestListener::Options::withWorkers(2)));

        MemoryDefaultsStore store;
        AppSettings settings(store);
        settings.setMonitoredRange(rangeOf(ports));
        auto monitor = makeMonitor(settings, MonitorServices::system());
        monitor->setPanelOpen(true);
        QVERIFY(varlo::test::waitUntil([&] { return monitor->hasLoadedOnce() && !monitor->isScanning(); }, 20s));

        const auto singleGroup = groupOn(*monitor, ports[0]);
        const auto familyGroup = groupOn(*monitor, ports[1]);
        QVERIFY(singleGroup && familyGroup);
        QCOMPARE(familyGroup->members.size(), 3);
        QCOMPARE(familyGroup->primaryPID, std::optional<qint64>(family.pid()));

        QVERIFY(awaitTask(monitor->kill(*singleGroup), 20s));
        QVERIFY(varlo::test::waitUntil([&] { return !TestListener::isAlive(single.pid()); }, 5s));
        QVERIFY(!groupOn(*monitor, ports[0]));

        QVERIFY(awaitTask(monitor->kill(*familyGroup), 20s));
        for (qint64 pid : family.allPids())
            QVERIFY(varlo::test::waitUntil([&] { return !TestListener::isAlive(pid); }, 5s));
        QVERIFY(!groupOn(*monitor, ports[1]));
    }

    void containerPortsAreStoppedThroughDockerOnce()
    {
        const QList<quint16> ports = varlo::test::freeLoopbackPorts(2);
        TestListener proxyA;
        TestListener proxyB;
        QVERIFY(proxyA.start({ports[0]}));
        QVERIFY(proxyB.start({ports[1]}));

        MemoryDefaultsStore store;
        AppSettings settings(store);
        settings.setMonitoredRange(rangeOf(ports));
        settings.setTunnelDetectionEnabled(false);
        MonitorServices services = MonitorServices::system();
        auto docker = std::make_shared<DockerDetector>(QStringList{writeFakeDocker(ports)}, systemCommandRunner());
        services.detectContainers = [docker] { return docker->detect(); };
        services.stopContainer = [docker](QString name) { return docker->stopContainer(name); };
        auto monitor = makeMonitor(settings, std::move(services));
        monitor->setPanelOpen(true);
        QVERIFY(varlo::test::waitUntil([&] { return monitor->dockerContainers().size() == 2 && !monitor->isScanning(); }, 20s));

        QVERIFY(awaitTask(monitor->kill(*groupOn(*monitor, ports[0])), 20s));
        QVERIFY(awaitTask(monitor->killAll(), 20s));

        QFile log(stopLog());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> stops = log.readAll().trimmed().split('\n');
        QCOMPARE(stops.size(), 2); // one kill, then one stop for both ports
        QVERIFY(stops[0].startsWith("stop --time 3"));
        QVERIFY(stops[0].endsWith(" web"));
        // The container is stopped instead of signalling the forwarding process.
        QVERIFY(TestListener::isAlive(proxyA.pid()));
        QVERIFY(TestListener::isAlive(proxyB.pid()));
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
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("monitoredRange"), QString::number(port)},
                                                 {QStringLiteral("dockerDetectionEnabled"), false},
                                                 {QStringLiteral("tunnelDetectionEnabled"), false}})
                           .toJson());
        settings.close();

        QProcess report;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), config.path());
        report.setProcessEnvironment(environment);
        report.start(QStringLiteral(VARLO_REPORT), {});
        QVERIFY(report.waitForFinished(30000));
        QCOMPARE(report.exitStatus(), QProcess::NormalExit);
        QCOMPARE(report.exitCode(), 0);

        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(report.readAllStandardOutput(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray groups = document.object().value(QStringLiteral("groups")).toArray();
        QCOMPARE(groups.size(), 1);
        const QJsonObject group = groups.first().toObject();
        QCOMPARE(group.value(QStringLiteral("port")).toInteger(), port);
        QCOMPARE(group.value(QStringLiteral("primaryPID")).toInteger(), listener.pid());
        QCOMPARE(group.value(QStringLiteral("members")).toArray().size(), 2);
        QCOMPARE(document.object().value(QStringLiteral("settings")).toObject().value(QStringLiteral("monitoredRange")),
                 QJsonValue(QString::number(port)));
        QVERIFY(!QFile::exists(config.filePath(QStringLiteral("Varlo/port-history.json"))));
    }
};

QTEST_GUILESS_MAIN(MonitorEndToEndTest)
#include "tst_monitorendtoend.moc"
