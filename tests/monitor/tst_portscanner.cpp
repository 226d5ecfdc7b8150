#include "EntryText.h"
#include "TestSupport.h"
#include "monitor/PortScanner.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;
using namespace std::chrono_literals;

namespace {

QString line(const QString& command, const QString& pid, const QString& device, const QString& name)
{
    return QStringLiteral("%1 %2 ann 45u IPv4 %3 0t0 TCP %4 (LISTEN)\n").arg(command, pid, device, name);
}

QList<PortEntry> scanOwn(PortScanner& scanner, bool includeDetails, const QList<quint16>& ports)
{
    QList<PortEntry> mine =
        test::awaitTask(scanner.scan(includeDetails), 60s).value_or(std::nullopt).value_or(QList<PortEntry>{});
    mine.removeIf([&](const PortEntry& entry) { return !ports.contains(quint16(entry.port)); });
    return mine;
}

} // namespace

class TestPortScanner : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("processTable");
        QTest::addColumn<QString>("directories");
        QTest::addColumn<QStringList>("entries");

        QTest::newRow("linux columns, devices merged, bad lines skipped")
            << "COMMAND  PID USER   FD   TYPE DEVICE SIZE/OFF NODE NAME (LISTEN)\n"
               "node    7683 root   21u  IPv6  16490      0t0  TCP [::1]:8080 (LISTEN)\n"
               "node    7683 root   22u  IPv4  16491      0t0  TCP 127.0.0.1:8080 (LISTEN)\n"
               "nginx     90 root    6u  IPv4  16492      0t0  TCP *:80 (LISTEN)\n"
               "nginx     90 root    7u  IPv6  16493      0t0  TCP [::1]:80 (LISTEN)\n"
               "dnsmasq 5 ann 4u IPv4 0x1 0t0 UDP 127.0.0.1:53\n"
               "node 812 45u IPv4 0x1 0t0 TCP 127.0.0.1:3000 (LISTEN)\n" +
                   line("node", "812", "0x1", "localhost") + line("node", "812", "0x1", "127.0.0.1:") +
                   line("node", "812", "0x1", "127.0.0.1:http") + line("node", "0", "0x1", "127.0.0.1:3000") +
                   line("node", "-1", "0x1", "127.0.0.1:3000") +
                   line("node", "abc", "0x1", "127.0.0.1:3000") +
                   QString::fromLatin1("\x01\x02\x7f\xff (LISTEN)\n\n   \n") +
                   line("My Dev Server", "813", "0xa", "127.0.0.1:3000") +
                   line("ruby", "77", "0x3", "*:4000") + "ruby 78 ann 45u IPv4 0x4 0t0 TCP 127.0"
            << QString::fromLatin1("\x01\xfe\n  77") << QString::fromLatin1("p77\nn\xff")
            << QStringList{"80 90 nginx|nginx||all|16492,16493|0|",
                           "3000 813 My Dev Server|My Dev Server||lo|0xa|0|", "4000 77 ruby|ruby||all|0x3|0|",
                           "8080 7683 node|node||lo|16490,16491|0|"};
        // ps paths keep their runs of spaces; an unreadable cwd is an error text, not a directory.
        QTest::newRow("details")
            << line("srv", "9", "0x1", "*:8080") + line("vite", "7", "0x2", "127.0.0.1:5173") +
                   line("srv", "10", "0x1", "*:8080") + line("rails", "8", "0x3", "127.0.0.1:3000")
            << "    9     1 /usr/bin/srv\n   10     9 /usr/bin/srv\n    8     1 /opt/My  Rails/ruby\n x 1 sh"
            << "p9\nfcwd\nn/first\nn/srv\np8\nn/home/ann/app\np7\nn/proc/7/cwd (readlink: Permission "
               "denied)\np10\nnrel"
            << QStringList{"3000 8 rails|/opt/My Rails/ruby|/home/ann/app|lo|0x3|1|",
                           "5173 7 vite|vite||lo|0x2|0|", "8080 9 srv|/usr/bin/srv|/srv|all|0x1|1|",
                           "8080 10 srv|/usr/bin/srv||all|0x1|9|"};
        QTest::newRow("escapes") << line("my\\x20dev\\x20srv", "5", "0x5", "*:3000") << QString()
                                 << QStringLiteral("p5\nn/home/ann/caf\\xc3\\xa9 a\\tb\\\\x41")
                                 << QStringList{QStringLiteral(
                                        "3000 5 my dev srv|my dev srv|/home/ann/café a\tb\\x41|all|0x5|0|")};
    }
    void parse()
    {
        QFETCH(QString, listing);
        QFETCH(QString, processTable);
        QFETCH(QString, directories);
        QStringList found;
        for (const PortEntry& entry : PortScanner::mergeRows(
                 PortScanner::parseListing(listing), PortScanner::parseProcessTable(processTable),
                 PortScanner::parseWorkingDirectories(directories)))
            found.append(test::entryText(entry));
        QTEST(found, "entries");
    }

    void decodeEscapes_data()
    {
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QString>("name");
        const auto row = [](const char* name, const QString& printed, const QString& decoded) {
            QTest::newRow(name) << printed << decoded;
        };
        row("c forms", R"(\b\f\n\r\t\\)", "\b\f\n\r\t\\");
        row("caret forms", "^A^[^_", "\x01\x1b\x1f");
        row("bytes forming utf-8", R"(caf\xc3\xA9\x20\x0a)", QStringLiteral("café \n"));
        row("escaped backslash first", R"(a\\x41)", R"(a\x41)");
        row("not escapes", R"(^a ^@ ^` \q \x4 \xzz x^ \)", R"(^a ^@ ^` \q \x4 \xzz x^ \)");
        row("invalid utf-8", R"(a\xffb)", QStringLiteral("a\ufffdb"));
        row("wide characters kept", QStringLiteral("é\\x20😀"), QStringLiteral("é 😀"));
    }
    void decodeEscapes()
    {
        QFETCH(QString, printed);
        QTEST(PortScanner::decodeEscapes(printed), "name");
        // A name cut out of a longer text ends where it ends.
        QCOMPARE(PortScanner::decodeEscapes(QStringView(u"a\\x41").first(4)), QStringLiteral("a\\x4"));
    }

    // Fake lsof runs through the real runner: a failure is never an empty machine.
    void listingRuns_data()
    {
        QTest::addColumn<QString>("lsof");  // script body; empty: no such tool
        QTest::addColumn<QString>("ports"); // "failed", or the ports found
        const auto row = [](const char* name, const QString& lsof, const char* ports) {
            QTest::newRow(name) << lsof << QString::fromLatin1(ports);
        };
        const QString listing = "printf 'COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\\n"
                                "node 812 ann 45u IPv4 0x1 0t0 TCP 127.0.0.1:3000 (LISTEN)\\n'";
        row("nothing listens", "exit 1", "");
        row("partial, status 1", listing + "; exit 1", "3000");
        row("missing", QString(), "failed");
        row("hangs", "echo COMMAND; exec sleep 30", "failed");
        row("killed", listing + "; kill -KILL $$", "failed");
        row("other status", "exit 2", "failed");
        row("garbage", "echo 'lsof: WARNING: can not stat()'", "failed");
        row("not utf-8", "echo COMMAND; printf '\\377'", "failed");
    }
    void listingRuns()
    {
        QFETCH(QString, lsof);
        QTemporaryDir dir;
        ToolPaths tools;
        if (!lsof.isEmpty()) {
            tools.lsof = dir.filePath("lsof");
            QFile script(tools.lsof);
            QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\n" + lsof.toUtf8()) > 0);
            QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        // A short limit keeps the hanging tool fast.
        PortScanner scanner(tools, [](const QString& exe, const QStringList& args, double) {
            return runCommandWithOutcome(exe, args, 0.5);
        });
        const auto found = test::awaitTask(scanner.scan(false), 10s);
        QVERIFY(found);
        QStringList ports;
        for (const PortEntry& entry : found->value_or(QList<PortEntry>{}))
            ports.append(QString::number(entry.port));
        QTEST(*found ? ports.join(' ') : QStringLiteral("failed"), "ports");
    }

    void realProcesses()
    {
        if (ToolPaths::system().lsof.isEmpty() || ToolPaths::system().ps.isEmpty())
            QSKIP("lsof or ps is not installed");
        const QList<quint16> ports{test::freeLoopbackPort()};
        // Every control character, and the characters lsof escapes with, in the names.
        QByteArray folder = " \\x41 ^a \xc3\xa9 \x7f";
        for (char c = 1; c < 0x20; ++c)
            folder += c;
        QTemporaryDir parent;
        const QString directory = parent.filePath(QString::fromUtf8(folder));
        QVERIFY(QDir().mkdir(directory));
        test::TestListener listener;
        test::TestListener::Options options = test::TestListener::Options::withWorkers(2);
        options.workingDirectory = directory;
        options.name = "my dev srv\t\x1b\x7f";
        QVERIFY(listener.start(ports, options));

        PortScanner scanner;
        const QList<PortEntry> detailed = scanOwn(scanner, true, ports);
        QCOMPARE(detailed.size(), 3);
        for (const PortEntry& entry : detailed) {
            QVERIFY(listener.allPids().contains(entry.pid));
            QCOMPARE(entry.processName, QString::fromUtf8(options.name));
            QCOMPARE(entry.ppid,
                     entry.pid == listener.pid() ? QCoreApplication::applicationPid() : listener.pid());
            QCOMPARE(entry.workingDirectory, QFileInfo(directory).canonicalFilePath());
            QCOMPARE(entry.address, Address::localhost);
            QVERIFY(!entry.devices.isEmpty());
            QCOMPARE(entry.devices, detailed.constFirst().devices);
        }
        const QList<PortGroup> groups = PortGroup::group(detailed);
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups[0].primaryPID, std::optional<qint64>(listener.pid()));

        // Without details the shared socket alone makes one family.
        QCOMPARE(PortGroup::group(scanOwn(scanner, false, ports)).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPortScanner)
#include "tst_portscanner.moc"
