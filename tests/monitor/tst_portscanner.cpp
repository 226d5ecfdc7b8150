#include "TestSupport.h"
#include "monitor/PortScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace varlo;
using namespace std::chrono_literals;

namespace {

QString describe(const PortScanner::Row& row)
{
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(row.command)
        .arg(row.pid)
        .arg(row.host)
        .arg(row.port)
        .arg(row.device);
}

QString describe(const PortEntry& entry)
{
    QStringList devices(entry.devices.cbegin(), entry.devices.cend());
    devices.sort();
    return QStringLiteral("%1 %2 %3|%4|%5|%6|%7|%8")
        .arg(entry.port)
        .arg(entry.pid)
        .arg(entry.processName, entry.binaryPath, entry.workingDirectory,
             entry.address == Address::localhost ? QStringLiteral("localhost") : QStringLiteral("all"),
             devices.join(u','))
        .arg(entry.ppid);
}

template<typename T> QStringList describeAll(const QList<T>& items)
{
    QStringList texts;
    for (const T& item : items)
        texts.append(describe(item));
    return texts;
}

QString lsofLine(const QString& command, int pid, const QString& device, const QString& name)
{
    return QStringLiteral("%1 %2 ann 45u IPv4 %3 0t0 TCP %4 (LISTEN)")
        .arg(command)
        .arg(pid)
        .arg(device, name);
}

QString procComm(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QList<PortEntry> onPorts(const QList<PortEntry>& entries, const QList<quint16>& ports)
{
    QList<PortEntry> mine;
    std::copy_if(entries.cbegin(), entries.cend(), std::back_inserter(mine),
                 [&](const PortEntry& entry) { return ports.contains(quint16(entry.port)); });
    return mine;
}

QList<PortEntry> scanNow(PortScanner& scanner, bool includeDetails)
{
    auto result = test::awaitTask(scanner.scan(includeDetails), 60s);
    if (!result)
        qFatal("scan did not finish");
    return *result;
}

} // namespace

class TestPortScanner : public QObject
{
    Q_OBJECT

private slots:
    void parseListing_data();
    void parseListing();
    void mergeRows_data();
    void mergeRows();
    void parseProcessTable_data();
    void parseProcessTable();
    void parseWorkingDirectories_data();
    void parseWorkingDirectories();
    void runsOnlyWhatTheScanNeeds();
    void missingTool_data();
    void missingTool();
    void realProcesses();
    void matchesSocketStatistics();
};

void TestPortScanner::parseListing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("command with spaces") << lsofLine("My Dev Server", 812, "0xabc", "127.0.0.1:3000")
                                         << QStringList{"My Dev Server|812|127.0.0.1|3000|0xabc"};
    QTest::newRow("linux columns")
        << "COMMAND  PID USER   FD   TYPE DEVICE SIZE/OFF NODE NAME\n"
           "python3 7641 root    3u  IPv4  16480      0t0  TCP 127.0.0.1:58255 (LISTEN)\n"
           "node    7683 root   21u  IPv6  16490      0t0  TCP [::1]:8080 (LISTEN)\n"
           "nginx     90 root    6u  IPv4  16491      0t0  TCP *:80 (LISTEN)"
        << QStringList{"python3|7641|127.0.0.1|58255|16480", "node|7683|[::1]|8080|16490",
                       "nginx|90|*|80|16491"};
    QTest::newRow("skipped lines") << "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME (LISTEN)\n"
                                      "dnsmasq 5 ann 4u IPv4 0x1 0t0 UDP 127.0.0.1:53\n"
                                      "node 812 45u IPv4 0x1 0t0 TCP 127.0.0.1:3000 (LISTEN)\n" +
                                          lsofLine("node", 812, "0x1", "localhost") + '\n' +
                                          lsofLine("node", 812, "0x1", "127.0.0.1:") + '\n' +
                                          lsofLine("node", 812, "0x1", "127.0.0.1:http") + '\n' +
                                          lsofLine("node", 812, "0x1", "127.0.0.1:3x") + '\n' +
                                          lsofLine("node", 0, "0x1", "127.0.0.1:3000") + '\n' +
                                          lsofLine("node", -1, "0x1", "127.0.0.1:3000") +
                                          "\nnode abc ann 45u IPv4 0x1 0t0 TCP 127.0.0.1:3000 (LISTEN)"
                                   << QStringList{};
    QTest::newRow("host split at last colon")
        << lsofLine("java", 9, "0x2", "[fe80::1%lo0]:8443") << QStringList{"java|9|[fe80::1%lo0]|8443|0x2"};
    QTest::newRow("garbage around a good line")
        << QString::fromLatin1("\x01\x02\x7f (LISTEN)\n\n   \n") + lsofLine("ruby", 77, "0x3", "*:4000") +
               "\nruby 78 ann 45u IPv4 0x4 0t0 TCP 127.0"
        << QStringList{"ruby|77|*|4000|0x3"};
    QTest::newRow("empty") << QString() << QStringList{};
}

void TestPortScanner::parseListing()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rows);
    QCOMPARE(describeAll(PortScanner::parseListing(text)), rows);
}

void TestPortScanner::mergeRows_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("processTable");
    QTest::addColumn<QString>("directories");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("loopback on both families")
        << lsofLine("node", 5, "0xa", "127.0.0.1:3000") + '\n' + lsofLine("node", 5, "0xb", "[::1]:3000")
        << QString() << QString() << QStringList{"3000 5 node|node||localhost|0xa,0xb|0"};
    QTest::newRow("wildcard makes all interfaces")
        << lsofLine("node", 5, "0xa", "*:3000") + '\n' + lsofLine("node", 5, "0xb", "[::1]:3000") << QString()
        << QString() << QStringList{"3000 5 node|node||all|0xa,0xb|0"};
    QTest::newRow("duplicate rows, first command wins")
        << lsofLine("node", 5, "0xa", "127.0.0.1:3000") + '\n' +
               lsofLine("node", 5, "0xa", "127.0.0.1:3000") + '\n' +
               lsofLine("other", 5, "0xc", "127.0.0.1:3000")
        << QString() << QString() << QStringList{"3000 5 node|node||localhost|0xa,0xc|0"};
    QTest::newRow("sorted by port, workers share a device")
        << lsofLine("srv", 9, "0x1", "*:8080") + '\n' + lsofLine("vite", 7, "0x2", "127.0.0.1:5173") + '\n' +
               lsofLine("srv", 10, "0x1", "*:8080") + '\n' + lsofLine("rails", 8, "0x3", "127.0.0.1:3000")
        << "    9     1 /usr/bin/srv\n   10     9 /usr/bin/srv\n    8     1 /opt/My  Rails/ruby"
        << "p9\nfcwd\nn/srv\np8\nn/home/ann/app"
        << QStringList{"3000 8 rails|/opt/My Rails/ruby|/home/ann/app|localhost|0x3|1",
                       "5173 7 vite|vite||localhost|0x2|0", "8080 9 srv|/usr/bin/srv|/srv|all|0x1|1",
                       "8080 10 srv|/usr/bin/srv||all|0x1|9"};
}

void TestPortScanner::mergeRows()
{
    QFETCH(QString, listing);
    QFETCH(QString, processTable);
    QFETCH(QString, directories);
    QFETCH(QStringList, entries);
    const QList<PortEntry> merged = PortScanner::mergeRows(PortScanner::parseListing(listing),
                                                           PortScanner::parseProcessTable(processTable),
                                                           PortScanner::parseWorkingDirectories(directories));
    QCOMPARE(describeAll(merged), entries);
}

void TestPortScanner::parseProcessTable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("processes"); // "pid ppid path", sorted

    QTest::newRow("runs of spaces") << "   501    1 /Applications/My  App.app/Contents/MacOS/app"
                                    << QStringList{"501 1 /Applications/My App.app/Contents/MacOS/app"};
    QTest::newRow("bad lines skipped") << "  12\n  13 1\n  x 1 sh\n  14 y sh\n  15 1 sh\n\n"
                                       << QStringList{"15 1 sh"};
    QTest::newRow("later line wins") << "20 1 old\n20 2 new" << QStringList{"20 2 new"};
}

void TestPortScanner::parseProcessTable()
{
    QFETCH(QString, text);
    QFETCH(QStringList, processes);
    const QHash<qint64, PortScanner::Process> table = PortScanner::parseProcessTable(text);
    QStringList found;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        found.append(QStringLiteral("%1 %2 %3").arg(it.key()).arg(it->ppid).arg(it->path));
    found.sort();
    QCOMPARE(found, processes);
}

void TestPortScanner::parseWorkingDirectories_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("directories"); // "pid dir", sorted

    QTest::newRow("field output") << "p12\nfcwd\nn/home/ann/my app\np13\nfcwd\nn/"
                                  << QStringList{"12 /home/ann/my app", "13 /"};
    QTest::newRow("unreadable cwd")
        << "p1\nn/proc/1/cwd (readlink: Permission denied)\np2\nn/proc/2/cwd (stat: "
           "No such file or directory)\np3\nn/srv"
        << QStringList{"3 /srv"};
    QTest::newRow("not a path") << QString::fromLatin1(
                                       "p4\nnrelative/dir\np5\nn\np6\nn /space\np\x01\nn\xff\xfe")
                                << QStringList{};
    QTest::newRow("name before any pid") << "n/orphan\np7\nn/first\nn/second" << QStringList{"7 /second"};
    QTest::newRow("bad pid line keeps the current pid") << "p8\npabc\nn/eight" << QStringList{"8 /eight"};
}

void TestPortScanner::parseWorkingDirectories()
{
    QFETCH(QString, text);
    QFETCH(QStringList, directories);
    const QHash<qint64, QString> map = PortScanner::parseWorkingDirectories(text);
    QStringList found;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        found.append(QStringLiteral("%1 %2").arg(it.key()).arg(*it));
    found.sort();
    QCOMPARE(found, directories);
}

void TestPortScanner::runsOnlyWhatTheScanNeeds()
{
    QStringList calls;
    QString listing =
        lsofLine("node", 42, "0x1", "127.0.0.1:3000") + '\n' + lsofLine("node", 43, "0x1", "*:3001");
    const CommandRunner runner = [&](const QString& tool, const QStringList& arguments, double timeout) {
        calls.append(tool + ' ' + arguments.join(u' ') + ' ' + QString::number(timeout));
        if (tool == u"/t/lsof" && arguments.constFirst() == u"+c0")
            return listing;
        if (tool == u"/t/ps")
            return QStringLiteral("42 1 /bin/node\n43 42 /bin/node");
        return QStringLiteral("p42\nn/app\np43\nn/app");
    };
    ToolPaths tools;
    tools.lsof = QStringLiteral("/t/lsof");
    tools.ps = QStringLiteral("/t/ps");
    PortScanner scanner(tools, runner);

    QCOMPARE(scanner.scanBlocking(false).size(), 2);
    QCOMPARE(calls, QStringList{"/t/lsof +c0 -i -P -n -sTCP:LISTEN 8"});

    calls.clear();
    const QList<PortEntry> entries = scanNow(scanner, true);
    QCOMPARE(calls, (QStringList{"/t/lsof +c0 -i -P -n -sTCP:LISTEN 8", "/t/ps -ax -o pid=,ppid=,comm= 8",
                                 "/t/lsof -a -d cwd -p 42,43 -Fn 8"}));
    QCOMPARE(describeAll(entries), (QStringList{"3000 42 node|/bin/node|/app|localhost|0x1|1",
                                                "3001 43 node|/bin/node|/app|all|0x1|42"}));

    // Nothing listening: no working-directory lookup with an empty pid list.
    calls.clear();
    listing.clear();
    QVERIFY(scanner.scanBlocking(true).isEmpty());
    QCOMPARE(calls.size(), 2);
}

void TestPortScanner::missingTool_data()
{
    QTest::addColumn<QString>("lsof");
    QTest::newRow("no path") << QString();
    QTest::newRow("nonexistent") << QStringLiteral("/nonexistent/varlo/lsof");
    QTest::newRow("not executable") << QDir::currentPath();
}

void TestPortScanner::missingTool()
{
    QFETCH(QString, lsof);
    ToolPaths tools = ToolPaths::system();
    tools.lsof = lsof;
    PortScanner scanner(tools);
    QVERIFY(scanNow(scanner, true).isEmpty());
}

void TestPortScanner::realProcesses()
{
    const ToolPaths& tools = ToolPaths::system();
    if (tools.lsof.isEmpty() || tools.ps.isEmpty())
        QSKIP("lsof or ps is not installed");

    const QList<quint16> ports = test::freeLoopbackPorts(2);
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    test::TestListener shared;
    test::TestListener::Options workers;
    workers.workers = 2;
    QVERIFY(shared.start({ports[0]}, workers));
    test::TestListener elsewhere;
    test::TestListener::Options moved;
    moved.workingDirectory = directory.path();
    QVERIFY(elsewhere.start({ports[1]}, moved));

    PortScanner scanner;
    const QList<PortEntry> detailed = onPorts(scanNow(scanner, true), ports);
    QCOMPARE(detailed.size(), 4);

    QSet<QString> sharedDevices;
    for (const PortEntry& entry : detailed) {
        QCOMPARE(entry.processName, procComm(entry.pid));
        QCOMPARE(entry.address, Address::localhost);
        QVERIFY(!entry.devices.isEmpty());
        if (entry.port == ports[0]) {
            QVERIFY(shared.allPids().contains(entry.pid));
            QCOMPARE(entry.ppid,
                     entry.pid == shared.pid() ? QCoreApplication::applicationPid() : shared.pid());
            QCOMPARE(entry.workingDirectory, QDir::current().canonicalPath());
            if (sharedDevices.isEmpty())
                sharedDevices = entry.devices;
            QCOMPARE(entry.devices, sharedDevices);
        } else {
            QCOMPARE(entry.pid, elsewhere.pid());
            QCOMPARE(entry.workingDirectory, QFileInfo(directory.path()).canonicalFilePath());
        }
    }

    const QList<PortGroup> groups = PortGroup::group(detailed);
    QCOMPARE(groups.size(), 2);
    QCOMPARE(groups[0].port, qint64(qMin(ports[0], ports[1])));
    const PortGroup& family = groups[0].port == ports[0] ? groups[0] : groups[1];
    QCOMPARE(family.members.size(), 3);
    QCOMPARE(family.primaryPID, std::optional<qint64>(shared.pid()));
    QVERIFY(!family.sharesPortWithOthers);

    const QList<PortEntry> quick = onPorts(scanNow(scanner, false), ports);
    QCOMPARE(quick.size(), 4);
    for (const PortEntry& entry : quick) {
        QVERIFY(entry.workingDirectory.isEmpty());
        QCOMPARE(entry.ppid, qint64(0));
        QCOMPARE(entry.binaryPath, entry.processName);
    }
    // The shared socket alone still makes one family.
    QCOMPARE(PortGroup::group(onPorts(quick, {ports[0]})).size(), 1);
}

void TestPortScanner::matchesSocketStatistics()
{
    const QString ss = ToolPaths::firstExecutable({"/usr/bin/ss", "/bin/ss", "/usr/sbin/ss", "/sbin/ss"});
    if (ss.isEmpty() || ToolPaths::system().lsof.isEmpty())
        QSKIP("ss or lsof is not installed");

    const QList<quint16> ports = test::freeLoopbackPorts(2);
    test::TestListener first;
    test::TestListener::Options workers;
    workers.workers = 1;
    QVERIFY(first.start({ports[0]}, workers));
    test::TestListener second;
    QVERIFY(second.start({ports[1]}));

    PortScanner scanner;
    QSet<QPair<qint64, qint64>> scanned;
    for (const PortEntry& entry : onPorts(scanNow(scanner, false), ports))
        scanned.insert({entry.pid, entry.port});

    // Lines such as: LISTEN 0 16 127.0.0.1:40000 0.0.0.0:* users:(("name",pid=12,fd=3),("name",pid=13,fd=3))
    QSet<QPair<qint64, qint64>> reported;
    const QString table = runCommand(ss, {"-H", "-l", "-t", "-n", "-p"}, 8.0);
    static const QRegularExpression pidPattern(QStringLiteral(R"(pid=(\d+))"));
    for (const QString& line : table.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        if (fields.size() < 6)
            continue;
        const qint64 port = fields[3].mid(fields[3].lastIndexOf(u':') + 1).toLongLong();
        if (!ports.contains(quint16(port)))
            continue;
        for (auto match = pidPattern.globalMatch(line); match.hasNext();)
            reported.insert({match.next().captured(1).toLongLong(), port});
    }
    QCOMPARE(reported.size(), 3);
    QCOMPARE(scanned, reported);
}

QTEST_GUILESS_MAIN(TestPortScanner)
#include "tst_portscanner.moc"
