// The kernel's source against lsof, over listeners this test starts itself.
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

// Everything but the id, and the path unless `withPath`.
QStringList describe(const std::optional<QList<PortEntry>>& entries, const QList<quint16>& ports, bool withPath)
{
    QStringList lines;
    for (const PortEntry& entry : entries.value_or(QList<PortEntry>{})) {
        if (!ports.contains(quint16(entry.port)))
            continue;
        QStringList devices(entry.devices.cbegin(), entry.devices.cend());
        devices.sort();
        lines << QStringLiteral("%1 %2 %3|%4|%5|%6|%7|%8|%9")
                     .arg(entry.port)
                     .arg(entry.pid)
                     .arg(entry.processName, withPath ? entry.binaryPath : QString(), entry.workingDirectory,
                          entry.address == Address::localhost ? QStringLiteral("lo") : QStringLiteral("all"),
                          devices.join(u','))
                     .arg(entry.ppid)
                     .arg(entry.userName);
    }
    lines.sort();
    return lines;
}

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

    bool startFarmMember(QList<quint16> ports, const test::TestListener::Options& options)
    {
        m_farm.push_back(std::make_unique<test::TestListener>());
        return m_farm.back()->start(ports, options);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (ToolPaths::system().lsof.isEmpty() || ToolPaths::system().ps.isEmpty())
            QSKIP("lsof or ps is not installed");
        if (!dumpListeningSockets())
            QSKIP("netlink sock_diag is not available here");
        m_ports = test::freeLoopbackPorts(7);
        using Options = test::TestListener::Options;
        Options v6;
        v6.ipv6 = true;
        Options both;
        both.bothFamilies = true;
        Options reuse;
        reuse.reusePort = true;
        Options deletedCwd;
        deletedCwd.workingDirectory = m_dirs.filePath("gone");
        QVERIFY(QDir().mkdir(deletedCwd.workingDirectory));
        Options spaced;
        spaced.name = "my  dev server";
        QVERIFY(startFarmMember({m_ports[0]}, Options{}));
        QVERIFY(startFarmMember({m_ports[1]}, v6));
        QVERIFY(startFarmMember({m_ports[2]}, both));
        QVERIFY(startFarmMember({m_ports[3]}, Options::withWorkers(2)));
        QVERIFY(startFarmMember({m_ports[4]}, reuse));
        QVERIFY(startFarmMember({m_ports[4]}, reuse));
        QVERIFY(startFarmMember({m_ports[5]}, deletedCwd));
        QVERIFY(QDir().rmdir(deletedCwd.workingDirectory));
        QVERIFY(startFarmMember({m_ports[6]}, spaced));
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
        const QStringList expected = describe(scanWith(lsof, details), m_ports, !details);
        QCOMPARE(expected.size(), 10); // one per process and port
        QCOMPARE(describe(scanWith(kernel, details), m_ports, !details), expected);
    }

    // Linux's ps prints only the short name as the command; the kernel source gives the executable.
    void detailedPathIsTheExecutable()
    {
        ProcNetSource kernel;
        const QString helper = QFileInfo(test::listenerProgram()).canonicalFilePath();
        const auto entries = scanWith(kernel, true);
        QVERIFY(entries);
        int seen = 0;
        for (const PortEntry& entry : *entries) {
            if (m_ports.contains(quint16(entry.port))) {
                QCOMPARE(entry.binaryPath, helper);
                ++seen;
            }
        }
        QCOMPARE(seen, 10);
    }

    // Netlink refused from the start, or failing later: lsof answers, with the same rows.
    void fallbackGivesTheSameRows()
    {
        ChosenPortSource kernel = choosePortSource();
        QCOMPARE(kernel.name, QStringLiteral("netlink"));
        const QStringList expected = describe(scanWith(*kernel.source, false), m_ports, true);
        QCOMPARE(expected.size(), 10);

        ChosenPortSource refused = choosePortSource([] { return std::optional<QList<ListeningSocket>>(); });
        QCOMPARE(refused.name, QStringLiteral("lsof"));
        QCOMPARE(describe(scanWith(*refused.source, false), m_ports, true), expected);

        int dumps = 0;
        ChosenPortSource failing = choosePortSource([&dumps]() -> std::optional<QList<ListeningSocket>> {
            return ++dumps == 1 ? dumpListeningSockets() : std::nullopt;
        });
        QCOMPARE(failing.name, QStringLiteral("netlink"));
        QCOMPARE(describe(scanWith(*failing.source, false), m_ports, true), expected);
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
        const auto before = describe(kernel.scanBlocking(false), {port}, true);
        QCOMPARE(before.size(), 1);
        QVERIFY(before.constFirst().startsWith(QStringLiteral("%1 %2 ").arg(port).arg(first->pid())));
        first.reset();
        test::TestListener second;
        QVERIFY(second.start({port}));
        const auto after = describe(kernel.scanBlocking(false), {port}, true);
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
