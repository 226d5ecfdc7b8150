#include "TestSupport.h"
#include "detectors/DockerDetector.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

class TstDockerDetector : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_args; // of the last run
    int m_runs = 0;
    qint64 m_now = 0; // the detector's clock, in ms

    // A client running `body`; without one it is not executable, like the paths before it.
    DockerDetector fakeClient(const QString& body)
    {
        m_args.clear();
        m_runs = 0;
        QFile file(m_dir.filePath("docker"));
        if (file.open(QIODevice::WriteOnly))
            file.write("#!/bin/sh\n" + body.toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | (body.isEmpty() ? QFile::ReadOwner : QFile::ExeOwner));
        return DockerDetector({"/nonexistent/docker", m_dir.path(), file.fileName()},
                              [this](const QString& program, const QStringList& arguments, double timeout) {
                                  m_args = arguments;
                                  ++m_runs;
                                  return runCommandWithOutcome(program, arguments, timeout);
                              },
                              [this] { return m_now; });
    }

private Q_SLOTS:
    void publishedPorts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("ipv4 and ipv6")
            << "0.0.0.0:8080->80/tcp, [::]:8080->80/tcp, :::8080->80/tcp" << QList<qint64>{8080, 8080, 8080};
        QTest::newRow("exposed only, range")
            << "80/tcp, 0.0.0.0:8000-8002->8000-8002/tcp, 0.0.0.0:8081->81/tcp"
            << QList<qint64>{8000, 8001, 8002, 8081};
        QTest::newRow("ipv6 range, one-port range") << "[::]:9000-9001->80-81/tcp, :7000-7000->7/tcp"
                                                    << QList<qint64>{9000, 9001, 7000};
        QList<qint64> longest;
        for (qint64 port = 10000; port < 11024; ++port)
            longest.append(port);
        QTest::newRow("1024 ports") << "0.0.0.0:10000-11023->10000-11023/tcp" << longest;
        QTest::newRow("too long, reversed, malformed")
            << "0.0.0.0:10000-11024->10000-11024/tcp, :1-65535->1-65535/tcp, :8002-8000->80/tcp, "
               ":8000-->80/tcp, :8000-x->80/tcp, :8000-99999999999999999999->80/tcp, :-8000->80/tcp"
            << QList<qint64>{};
        QTest::newRow("overflow, non-ascii digits")
            << QStringLiteral(":99999999999999999999->80/tcp, :\u0663\u0664->80/tcp") << QList<qint64>{};
    }
    void publishedPorts()
    {
        QFETCH(QString, text);
        QTEST(DockerDetector::publishedPorts(text), "expected");
    }

    void detect()
    {
        const auto listed = test::awaitTask(
            fakeClient(
                "printf 'junk\\r\\n\\r\\n"
                "web-1\\tnginx:1.25\\tUp 2 hours\\t0.0.0.0:8080->80/tcp, [::]:8080->80/tcp\\tmyapp\\r\\n"
                "batch\\tworker\\tUp 1 second\\t0.0.0.0:8000-8001->8000-8001/tcp\\t\\n"
                "db\\tpg\\tUp\\t5432/tcp\\tproj\\n"
                "api\\tnode:20\\tUp\\t127.0.0.1:3000->3000/tcp\\t\\n"
                "old\\tweb:1\\tUp\\t0.0.0.0:9000->80/tcp\\tshop\\n"
                "new\\tweb:2\\tUp\\t0.0.0.0:9000->80/tcp\\tshop\\n"
                "cache\\tredis:7\\tUp (healthy)\\t6379/tcp, 0.0.0.0:16379->6379/tcp\\n'")
                .detect());
        QCOMPARE(m_args, (QStringList{"ps", "--no-trunc", "--format",
                                      "{{.Names}}\t{{.Image}}\t{{.Status}}\t{{.Ports}}\t"
                                      "{{.Label \"com.docker.compose.project\"}}"}));
        // An empty label is no project; of two containers on one port, the later one is shown.
        QCOMPARE(listed, std::optional(
                             DockerContainers{{8080, {"web-1", "nginx:1.25", "Up 2 hours", "myapp"}},
                                              {8000, {"batch", "worker", "Up 1 second", std::nullopt}},
                                              {8001, {"batch", "worker", "Up 1 second", std::nullopt}},
                                              {3000, {"api", "node:20", "Up", std::nullopt}},
                                              {9000, {"new", "web:2", "Up", "shop"}},
                                              {16379, {"cache", "redis:7", "Up (healthy)", std::nullopt}}}));
        const auto hung = test::awaitTask(fakeClient("exec sleep 30").detect(), std::chrono::seconds(7));
        QCOMPARE(hung, std::optional(DockerContainers()));
    }

    // A failing client is asked again after 8 s, then 16 s, ...; an answer ends the pauses.
    void failingClientBacksOff()
    {
        QFile flag(m_dir.filePath("up"));
        const DockerDetector detector = fakeClient(QStringLiteral("[ -e '%1' ] || exit 1").arg(flag.fileName()));
        const auto ask = [&](qint64 at) {
            m_now = at;
            const int before = m_runs;
            const bool finished = test::awaitTask(detector.detect()).has_value();
            return finished && m_runs > before;
        };
        for (const auto& [at, asked] : {std::pair{0, true}, {7999, false}, {8000, true}, {23999, false}, {24000, true}})
            QVERIFY2(ask(at) == asked, qPrintable(QString::number(at)));
        QVERIFY(flag.open(QIODevice::WriteOnly));
        flag.close();
        QVERIFY(!ask(55999));
        QVERIFY(ask(56000)); // answers: no pause from now on
        QVERIFY(ask(56000));
        QVERIFY(ask(56000));
    }

    void stopContainer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("expected");
        const QString echoName = "for a; do last=$a; done; echo \"$last\"";
        const QString notice = "echo 'Flag --time has been deprecated, use --timeout instead';";
        QTest::newRow("echoes the name") << "web-1" << notice + echoName << true;
        QTest::newRow("fails") << "web-1" << notice + "echo 'No such container' >&2; exit 1" << false;
        QTest::newRow("option-like name") << "--all" << echoName << false;
        QTest::newRow("no usable client") << "web-1" << QString() << false;
    }
    void stopContainer()
    {
        QFETCH(QString, name);
        QFETCH(QString, body);
        QFETCH(bool, expected);
        const auto stopped = test::awaitTask(fakeClient(body).stopContainer(name), std::chrono::seconds(15));
        QCOMPARE(stopped, std::optional(expected));
        const bool runs = !name.startsWith('-') && !body.isEmpty();
        QCOMPARE(m_args, runs ? QStringList({"stop", "--time", "3", "--", name}) : QStringList());
    }
};

QTEST_GUILESS_MAIN(TstDockerDetector)
#include "tst_dockerdetector.moc"
