#include "TestSupport.h"
#include "detectors/DockerDetector.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace varlo;

namespace {

// "port=name|image|status|project" in port order, so failures read well.
QStringList describe(const DockerContainers& containers)
{
    QList<qint64> ports = containers.keys();
    std::sort(ports.begin(), ports.end());
    QStringList lines;
    for (qint64 port : ports) {
        const DockerInfo& info = containers.value(port);
        lines << QStringLiteral("%1=%2|%3|%4|%5")
                     .arg(port)
                     .arg(info.containerName, info.image, info.status, info.composeProject.value_or("-"));
    }
    return lines;
}

const QString web = QStringLiteral("web-1\tnginx:1.25\tUp 2 hours\t0.0.0.0:8080->80/tcp, :::8080->80/tcp");
const QString webInfo = QStringLiteral("8080=web-1|nginx:1.25|Up 2 hours|");

} // namespace

class TstDockerDetector : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_clients = 0;

    QString argsFile() const { return m_dir.filePath(QStringLiteral("args")); }
    QStringList recordedArgs() const
    {
        QFile file(argsFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // A fake client that records its arguments, one a line, then runs `body`.
    DockerDetector fakeClient(const QString& body)
    {
        QFile::remove(argsFile());
        QFile file(m_dir.filePath(QStringLiteral("docker-%1").arg(++m_clients)));
        if (file.open(QIODevice::WriteOnly))
            file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n%2\n")
                           .arg(argsFile(), body)
                           .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return DockerDetector({QStringLiteral("/nonexistent/docker"), file.fileName()},
                              systemCommandRunner());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void publishedPorts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("ipv4 and ipv6")
            << "0.0.0.0:5432->5432/tcp, :::5432->5432/tcp" << QList<qint64>{5432, 5432};
        QTest::newRow("bracketed ipv6")
            << "127.0.0.1:8080->80/tcp, [::]:8080->80/tcp" << QList<qint64>{8080, 8080};
        QTest::newRow("exposed only first") << "80/tcp, 0.0.0.0:8081->81/tcp" << QList<qint64>{8081};
        QTest::newRow("range") << "0.0.0.0:8000-8002->8000-8002/tcp" << QList<qint64>{};
        QTest::newRow("overflow") << "0.0.0.0:99999999999999999999->80/tcp" << QList<qint64>{};
        QTest::newRow("non-ascii digits") << QStringLiteral(":\u0663\u0664->80/tcp") << QList<qint64>{};
    }
    void publishedPorts()
    {
        QFETCH(QString, text);
        QFETCH(QList<qint64>, expected);
        QCOMPARE(DockerDetector::publishedPorts(text), expected);
    }

    void parseContainerList_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("compose project") << web + "\tmyapp" << QStringList{webInfo + "myapp"};
        QTest::newRow("empty label") << web + "\t" << QStringList{webInfo + "-"};
        QTest::newRow("four fields") << web << QStringList{webInfo + "-"};
        QTest::newRow("bad lines skipped, crlf")
            << "a\tb\tc\r\n\r\ngarbage\r\n" + web << QStringList{webInfo + "-"};
        QTest::newRow("nothing published") << "db\tpg\tUp\t5432/tcp\t\nx\ty\tUp\t\tproj" << QStringList{};
        QTest::newRow("later line wins") << "old\ta\tUp\t0.0.0.0:3000->3000/tcp\nnew\tb\tUp\t:3000->80/tcp\tp"
                                         << QStringList{"3000=new|b|Up|p"};
    }
    void parseContainerList()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, expected);
        QCOMPARE(describe(DockerDetector::parseContainerList(output)), expected);
    }

    void detect_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("real formats")
            << "cat <<'EOF'\n"
               "web-1\tnginx:1.25\tUp 2 hours\t0.0.0.0:8080->80/tcp, [::]:8080->80/tcp\tmyapp\n"
               "batch\tworker\tUp 1 second\t0.0.0.0:8000-8002->8000-8002/tcp\t\n"
               "cache\tredis:7\tUp (healthy)\t6379/tcp, 0.0.0.0:16379->6379/tcp\n"
               "EOF"
            << QStringList{webInfo + "myapp", "16379=cache|redis:7|Up (healthy)|-"};
        QTest::newRow("daemon down") << "echo 'Cannot connect to the Docker daemon' >&2; exit 1"
                                     << QStringList{};
        QTest::newRow("not utf-8") << "printf 'we\\377b\\tnginx\\tUp\\t0.0.0.0:8080->80/tcp\\n'"
                                   << QStringList{};
    }
    void detect()
    {
        QFETCH(QString, body);
        QFETCH(QStringList, expected);
        const auto result = test::awaitTask(fakeClient(body).detect(), std::chrono::seconds(10));
        QVERIFY(result);
        QCOMPARE(describe(*result), expected);
        QCOMPARE(recordedArgs(), (QStringList{"ps", "--no-trunc", "--format",
                                              "{{.Names}}\t{{.Image}}\t{{.Status}}\t{{.Ports}}\t"
                                              "{{.Label \"com.docker.compose.project\"}}"}));
    }

    void detectGivesUpOnHangingClient()
    {
        QElapsedTimer clock;
        clock.start();
        const auto result = test::awaitTask(fakeClient("exec sleep 30").detect(), std::chrono::seconds(15));
        QVERIFY(result && result->isEmpty());
        QVERIFY2(clock.elapsed() >= 3500 && clock.elapsed() < 7000,
                 qPrintable(QString::number(clock.elapsed())));
    }

    void clientLookup()
    {
        QCOMPARE(
            DockerDetector::candidatePaths("ada", "/home/ada"),
            (QStringList{"/usr/local/bin/docker", "/opt/homebrew/bin/docker", "/Users/ada/.docker/bin/docker",
                         "/usr/bin/docker", "/snap/bin/docker", "/home/ada/.docker/bin/docker"}));

        QFile plain(m_dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QStringList unusable{"/nonexistent/docker", plain.fileName(), m_dir.path()};
        int runs = 0;
        const DockerDetector none(unusable, [&runs](const QString&, const QStringList&, double) {
            ++runs;
            return QStringLiteral("web-1");
        });
        QCOMPARE(none.dockerPath(), QString());
        QCOMPARE(test::awaitTask(none.detect()), DockerContainers());
        QCOMPARE(test::awaitTask(none.stopContainer("web-1")), false);
        QCOMPARE(runs, 0);

        const QString client = fakeClient("true").dockerPath();
        QCOMPARE(DockerDetector(unusable + QStringList{client, "/bin/sh"}, {}).dockerPath(), client);
    }

    void stopContainer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("expected");
        const QString echoName = QStringLiteral("for a; do last=$a; done; echo \"$last\"");
        const QString notice =
            QStringLiteral("echo 'Flag --time has been deprecated, use --timeout instead';");
        QTest::newRow("echoes the name") << "web-1" << echoName << true;
        QTest::newRow("notice then name") << "web-1" << notice + echoName << true;
        QTest::newRow("notice only") << "web-1" << notice + "echo 'No such container' >&2; exit 1" << false;
        QTest::newRow("silent failure") << "web-1"
                                        << "exit 1" << false;
        QTest::newRow("option-like name") << "--all" << echoName << false;
    }
    void stopContainer()
    {
        QFETCH(QString, name);
        QFETCH(QString, body);
        QFETCH(bool, expected);
        const auto result = test::awaitTask(fakeClient(body).stopContainer(name), std::chrono::seconds(15));
        QVERIFY(result);
        QCOMPARE(*result, expected);
        const QStringList expectedArgs{"stop", "--time", "3", "--", name};
        QCOMPARE(recordedArgs(), name.startsWith('-') ? QStringList() : expectedArgs);
    }
};

QTEST_GUILESS_MAIN(TstDockerDetector)
#include "tst_dockerdetector.moc"
