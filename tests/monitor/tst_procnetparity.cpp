// The kernel's source against lsof, over listeners this test starts itself.
#include "EntryText.h"
#include "TestSupport.h"
#include "monitor/PortScanner.h"
#include "monitor/ProcNetSource.h"
#include "monitor/SystemPortSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace varlo;
using namespace std::chrono_literals;

namespace {

std::optional<QList<PortEntry>> scanWith(PortSource& source, bool details)
{
    return test::awaitTask(source.scan(details), 60s).value_or(std::nullopt);
}

} // namespace

class TstProcNetParity : public QObject
{
    Q_OBJECT

    QList<quint16> m_ports;
    QTemporaryDir m_dirs;
    std::vector<std::unique_ptr<test::TestListener>> m_farm;

private Q_SLOTS:
    void initTestCase()
    {
        if (ToolPaths::system().lsof.isEmpty() || ToolPaths::system().ps.isEmpty())
            QSKIP("lsof or ps is not installed");
        if (!dumpListeningSockets())
            QSKIP("netlink sock_diag is not available here");
        m_ports = test::freeLoopbackPorts(7);
        using Options = test::TestListener::Options;
        const QString gone = m_dirs.filePath("gone");
        QVERIFY(QDir().mkdir(gone));
        const auto with = [](auto set) {
            Options options;
            set(options);
            return options;
        };
        const Options farm[]{{},
                             with([](Options& o) { o.ipv6 = true; }),
                             with([](Options& o) { o.bothFamilies = true; }),
                             Options::withWorkers(2),
                             with([](Options& o) { o.reusePort = true; }),
                             with([](Options& o) { o.reusePort = true; }),
                             with([&](Options& o) { o.workingDirectory = gone; }),
                             with([](Options& o) { o.name = "my  dev server"; })};
        // The two SO_REUSEPORT listeners share a port.
        for (int i = 0; i < 8; ++i) {
            m_farm.push_back(std::make_unique<test::TestListener>());
            QVERIFY(m_farm.back()->start({m_ports[i < 5 ? i : i - 1]}, farm[i]));
        }
        QVERIFY(QDir().rmdir(gone));
    }

    void sameRowsAsLsof_data()
    {
        QTest::addColumn<bool>("details");
        QTest::newRow("closed panel") << false;
        QTest::newRow("open panel") << true;
    }
    void sameRowsAsLsof()
    {
        QFETCH(bool, details);
        PortScanner lsof;
        ProcNetSource kernel;
        const QStringList expected = test::entryTexts(scanWith(lsof, details), m_ports, !details);
        QCOMPARE(expected.size(), 10); // one per process and port
        QCOMPARE(test::entryTexts(scanWith(kernel, details), m_ports, !details), expected);
    }

    // Linux's ps prints only the short name as the command; the kernel source gives the executable.
    void detailedPathIsTheExecutable()
    {
        ProcNetSource kernel;
        const QString helper = QFileInfo(test::listenerProgram()).canonicalFilePath();
        const QStringList rows = test::entryTexts(scanWith(kernel, true), m_ports);
        QCOMPARE(rows.size(), 10);
        QCOMPARE(rows.filter(u'|' + helper + u'|').size(), 10);
    }

    // Netlink refused from the start, or failing later: lsof answers, with the same rows.
    void fallbackGivesTheSameRows()
    {
        ChosenPortSource kernel = choosePortSource();
        QCOMPARE(kernel.name, QStringLiteral("netlink"));
        const QStringList expected = test::entryTexts(scanWith(*kernel.source, false), m_ports);
        QCOMPARE(expected.size(), 10);

        ChosenPortSource refused = choosePortSource([] { return std::optional<QList<ListeningSocket>>(); });
        QCOMPARE(refused.name, QStringLiteral("lsof"));
        QCOMPARE(test::entryTexts(scanWith(*refused.source, false), m_ports), expected);

        int dumps = 0;
        ChosenPortSource failing = choosePortSource([&dumps]() -> std::optional<QList<ListeningSocket>> {
            return ++dumps == 1 ? dumpListeningSockets() : std::nullopt;
        });
        QCOMPARE(failing.name, QStringLiteral("netlink"));
        QCOMPARE(test::entryTexts(scanWith(*failing.source, false), m_ports), expected);
        QCOMPARE(dumps, 2);
    }

    // An unchanged socket set reads no descriptors; a new listener on a freed port is seen afresh.
    void walksOnlyOnChange()
    {
        // Only this test's sockets: others' listeners come and go on a shared machine.
        const quint16 port = test::freeLoopbackPort();
        QList<quint16> ours = m_ports;
        ours.append(port);
        ProcNetSource kernel([ours]() -> std::optional<QList<ListeningSocket>> {
            std::optional<QList<ListeningSocket>> sockets = dumpListeningSockets();
            if (sockets)
                sockets->removeIf([&](const ListeningSocket& socket) { return !ours.contains(socket.port); });
            return sockets;
        });
        QVERIFY(kernel.scanBlocking(false));
        const int walks = kernel.walkCount();
        QVERIFY(kernel.scanBlocking(true));
        QCOMPARE(kernel.walkCount(), walks);

        auto first = std::make_unique<test::TestListener>();
        QVERIFY(first->start({port}));
        const auto before = test::entryTexts(kernel.scanBlocking(false), {port});
        QCOMPARE(before.size(), 1);
        QVERIFY(before.constFirst().startsWith(QStringLiteral("%1 %2 ").arg(port).arg(first->pid())));
        first.reset();
        test::TestListener second;
        QVERIFY(second.start({port}));
        const auto after = test::entryTexts(kernel.scanBlocking(false), {port});
        QCOMPARE(after.size(), 1);
        QVERIFY(after.constFirst().startsWith(QStringLiteral("%1 %2 ").arg(port).arg(second.pid())));
        QCOMPARE(kernel.walkCount(), walks + 2);
    }

    // Run as nobody, root's listener shows with its user and no pid; a
    // docker-proxy is named by its argument.
    void unattributedAsAnotherUser()
    {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (::geteuid() != 0 || setpriv.isEmpty())
            QSKIP("needs root and setpriv to scan as nobody");
        QTemporaryDir bin;
        QVERIFY(QFile::setPermissions(bin.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther));
        const QString proxyPath = bin.filePath(QStringLiteral("docker-proxy"));
        QVERIFY(QFile::link(test::listenerProgram(), proxyPath));
        const QList<quint16> ports = test::freeLoopbackPorts(2);
        test::TestListener owned;
        QVERIFY(owned.start({ports[0]}));
        test::TestListener::Options proxyOptions;
        proxyOptions.program = proxyPath;
        proxyOptions.proxyArguments = true;
        test::TestListener proxy;
        QVERIFY(proxy.start({ports[1]}, proxyOptions));

        QProcess scan;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        scan.setProcessEnvironment(environment);
        scan.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups", VARLO_TEST_PORTSCAN,
                             QString::number(ports[0]), QString::number(ports[1])});
        QVERIFY(scan.waitForFinished(30000));
        QCOMPARE(scan.exitCode(), 0);
        QStringList lines = QString::fromUtf8(scan.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        lines.sort();
        QStringList expected{QStringLiteral("%1 0  root").arg(ports[0]),
                             QStringLiteral("%1 %2 docker-proxy ").arg(ports[1]).arg(proxy.pid())};
        expected.sort();
        QCOMPARE(lines, expected);
    }
};

QTEST_GUILESS_MAIN(TstProcNetParity)
#include "tst_procnetparity.moc"
