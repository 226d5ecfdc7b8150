#include "monitor/PortEntry.h"

#include <QTest>
#include <functional>

using namespace varlo;

namespace {

PortEntry entry(qint64 port, qint64 pid, qint64 ppid = 0, QSet<QString> devices = {})
{
    PortEntry e;
    e.port = port;
    e.pid = pid;
    e.ppid = ppid;
    e.devices = std::move(devices);
    return e;
}

} // namespace

class TstPortGroup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void group_data()
    {
        QTest::addColumn<QList<PortEntry>>("entries");
        QTest::addColumn<QString>("expected"); // "<port>[*<primary>][!]:<member pids>" per group
        const auto row = [](const char* name, const QList<PortEntry>& entries, const QString& expected) {
            QTest::newRow(name) << entries << expected;
        };
        row("parent with larger pid and three workers",
            {entry(8000, 103, 500), entry(8000, 500, 1), entry(8000, 101, 500), entry(8000, 102, 500)},
            "8000*500:500,101,102,103");
        row("siblings, parent absent", {entry(3000, 20, 10), entry(3000, 15, 10)}, "3000*15:15,20");
        row("devices chain, no ppid",
            {entry(4000, 30, 0, {"d1"}), entry(4000, 10, 0, {"d2"}), entry(4000, 20, 0, {"d1", "d2"})},
            "4000*10:10,20,30");
        row("no root", {entry(3000, 20, 10), entry(3000, 10, 20)}, "3000*10:10,20");
        row("unrelated", {entry(5432, 9, 0, {"a"}), entry(5432, 7, 0, {"b"})}, "5432!:7 5432!:9");
        row("family and stranger",
            {entry(8080, 1), entry(3000, 101, 100), entry(3000, 50, 7), entry(3000, 100, 1)},
            "3000!:50 3000*100!:100,101 8080:1");
    }
    void group()
    {
        QFETCH(QList<PortEntry>, entries);
        QFETCH(QString, expected);
        QStringList parts;
        for (const PortGroup& group : PortGroup::group(entries)) {
            QStringList pids;
            for (const PortEntry& member : group.members)
                pids << QString::number(member.pid);
            parts << QString::number(group.port) +
                         (group.primaryPID ? u'*' + QString::number(*group.primaryPID) : QString()) +
                         QLatin1StringView(group.sharesPortWithOthers ? "!:" : ":") + pids.join(u',');
            QCOMPARE(group.id(), QStringLiteral("%1-%2").arg(group.port).arg(group.members.constFirst().pid));
        }
        QCOMPARE(parts.join(u' '), expected);
    }

    void displayPath()
    {
        PortEntry subject;
        subject.binaryPath = QStringLiteral("/usr/bin/node");
        QCOMPARE(subject.displayPath("/Users/ann"), subject.binaryPath);
        for (const auto& [directory, shown] : {std::pair{"/Users/ann/code/api", "~/code/api"},
                                               {"/Users/ann", "~"},
                                               {"/Users/annabel/web", "/Users/annabel/web"}}) {
            subject.workingDirectory = QString::fromUtf8(directory);
            QCOMPARE(subject.displayPath("/Users/ann"), QString::fromUtf8(shown));
        }
    }

    void isLikelyWebServer_data()
    {
        QTest::addColumn<QString>("ports"); // with a name that says nothing
        QTest::addColumn<bool>("likely");
        QTest::newRow("web ports") << "3000 3009 4000 4200 5000 5173 8000 8009 8080 8090 8443 9000" << true;
        QTest::newRow("their neighbours")
            << "2999 3010 3999 4001 4199 4201 4999 5001 5172 5174 7999 8010 8079 8091 8442 8444 8999 9001"
            << false;
    }
    void isLikelyWebServer()
    {
        QFETCH(QString, ports);
        QFETCH(bool, likely);
        for (const QString& port : ports.split(u' ')) {
            PortEntry subject = entry(port.toLongLong(), 1);
            subject.processName = QStringLiteral("sshd");
            QVERIFY2(subject.isLikelyWebServer() == likely, qPrintable(port));
        }
        // Off those ports, the name decides, in any case.
        PortEntry named = entry(10000, 1);
        for (const char* name : {"Node", "python3", "ruby", "RAILS", "puma", "vite", "next-server", "php-fpm",
                                 "java", "httpd", "nginx", "caddy", "deno", "bun", "My Dev Server"}) {
            named.processName = QString::fromLatin1(name);
            QVERIFY2(named.isLikelyWebServer() == (named.processName != "My Dev Server"), name);
        }
    }

    // Every field counts, the devices in any order; a fresh id makes two scans differ.
    void equalityAndHash()
    {
        PortEntry a = entry(3000, 10, 1, {});
        for (int i = 0; i < 40; ++i)
            a.devices.insert(QString::number(i));
        a.processName = a.binaryPath = QStringLiteral("node");
        PortEntry b = a;
        b.devices.clear();
        b.devices.reserve(1000);
        for (int i = 39; i >= 0; --i)
            b.devices.insert(QString::number(i));
        QVERIFY(a == b && qHash(a) == qHash(b));
        QVERIFY(PortEntry(a) != PortEntry{}); // ids differ
        const std::function<void(PortEntry&)> changes[] = {
            [](PortEntry& e) { e.id = QUuid::createUuid(); },
            [](PortEntry& e) { e.port += 1; },
            [](PortEntry& e) { e.pid += 1; },
            [](PortEntry& e) { e.processName += u'x'; },
            [](PortEntry& e) { e.binaryPath += u'x'; },
            [](PortEntry& e) { e.workingDirectory += u'x'; },
            [](PortEntry& e) { e.proto = Proto::udp; },
            [](PortEntry& e) { e.address = Address::allInterfaces; },
            [](PortEntry& e) { e.devices.insert(QStringLiteral("x")); },
            [](PortEntry& e) { e.ppid += 1; },
            [](PortEntry& e) { e.userName += u'x'; },
        };
        for (const auto& change : changes) {
            PortEntry c = a;
            change(c);
            QVERIFY(c != a && qHash(c) != qHash(a));
        }
    }
};

QTEST_GUILESS_MAIN(TstPortGroup)
#include "tst_portgroup.moc"
