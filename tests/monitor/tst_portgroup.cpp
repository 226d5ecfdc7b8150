#include "EntryText.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>
#include <functional>
#include <numeric>

using namespace varlo;

namespace {

using test::entry;

// The grouping as first written, comparing every pair of a port's entries:
// the reference the map-based version must agree with.
QList<PortGroup> pairwiseGroup(const QList<PortEntry>& entries)
{
    const auto related = [](const PortEntry& a, const PortEntry& b) {
        if (!a.devices.isEmpty() && !b.devices.isEmpty() && a.devices.intersects(b.devices))
            return true;
        return (a.ppid != 0 && a.ppid == b.pid) || (b.ppid != 0 && (b.ppid == a.ppid || b.ppid == a.pid));
    };
    QList<qint64> ports;
    for (const PortEntry& e : entries) {
        if (!ports.contains(e.port))
            ports.append(e.port);
    }
    QList<PortGroup> groups;
    for (const qint64 port : ports) {
        QList<PortEntry> bucket = entries;
        bucket.removeIf([port](const PortEntry& e) { return e.port != port; });
        QList<qsizetype> parent(bucket.size());
        std::iota(parent.begin(), parent.end(), 0);
        const auto root = [&parent](qsizetype at) {
            while (parent[at] != at)
                at = parent[at];
            return at;
        };
        QList<qsizetype> roots;
        for (qsizetype i = 0; i < bucket.size(); ++i) {
            for (qsizetype j = i + 1; j < bucket.size(); ++j) {
                if (related(bucket[i], bucket[j]))
                    parent[root(i)] = root(j);
            }
        }
        for (qsizetype i = 0; i < bucket.size(); ++i) {
            if (!roots.contains(root(i)))
                roots.append(root(i));
        }
        for (const qsizetype r : roots) {
            QList<PortEntry> members;
            QSet<qint64> pids;
            for (qsizetype i = 0; i < bucket.size(); ++i) {
                if (root(i) == r) {
                    members.append(bucket[i]);
                    pids.insert(bucket[i].pid);
                }
            }
            // The smallest pid whose parent is outside the family, else the smallest pid.
            std::optional<qint64> primaryPID, topmost, smallest;
            for (const PortEntry& m : members) {
                if (!smallest || m.pid < *smallest)
                    smallest = m.pid;
                if ((m.ppid == 0 || !pids.contains(m.ppid)) && (!topmost || m.pid < *topmost))
                    topmost = m.pid;
            }
            if (members.size() >= 2)
                primaryPID = topmost ? topmost : smallest;
            std::stable_sort(members.begin(), members.end(), [&](const PortEntry& a, const PortEntry& b) {
                const bool aPrimary = primaryPID && a.pid == *primaryPID;
                const bool bPrimary = primaryPID && b.pid == *primaryPID;
                return aPrimary != bPrimary ? aPrimary : a.pid < b.pid;
            });
            groups.append(PortGroup{port, members, primaryPID, roots.size() != 1});
        }
    }
    std::stable_sort(groups.begin(), groups.end(), [](const PortGroup& a, const PortGroup& b) {
        return a.port != b.port ? a.port < b.port : a.primary().pid < b.primary().pid;
    });
    return groups;
}

// Small value ranges, so that pids, parents and devices collide often.
QList<PortEntry> randomEntries(QRandomGenerator& random)
{
    const int count = random.bounded(1, 40);
    const int spread = random.bounded(2, 30);
    QList<PortEntry> entries;
    for (int i = 0; i < count; ++i) {
        QSet<QString> devices;
        for (int d = random.bounded(3); d > 0; --d)
            devices.insert(QString::number(random.bounded(spread)));
        entries.append(entry(3000 + random.bounded(3), random.bounded(spread),
                             random.bounded(4) == 0 ? 0 : random.bounded(spread), devices));
    }
    return entries;
}

// "<port>[*<primary>][!]:<members>" per group, members by pid or by the start of their id.
QString describe(const QList<PortGroup>& groups, bool byId = false)
{
    QStringList parts;
    for (const PortGroup& group : groups) {
        QStringList members;
        for (const PortEntry& member : group.members)
            members << (byId ? member.id.toString(QUuid::WithoutBraces).left(8)
                             : QString::number(member.pid));
        parts << QString::number(group.port) +
                     (group.primaryPID ? u'*' + QString::number(*group.primaryPID) : QString()) +
                     QLatin1StringView(group.sharesPortWithOthers ? "!:" : ":") + members.join(u',');
    }
    return parts.join(u' ');
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
        const QList<PortGroup> groups = PortGroup::group(entries);
        QTEST(describe(groups), "expected");
        for (const PortGroup& group : groups)
            QCOMPARE(group.id(), QStringLiteral("%1-%2").arg(group.port).arg(group.members.constFirst().pid));
    }

    // Same groups, members in the same order, as the pairwise reference.
    void groupMatchesPairwiseReference()
    {
        QRandomGenerator random(20261207);
        for (int round = 0; round < 3000; ++round) {
            const QList<PortEntry> entries = randomEntries(random);
            const QString expected = describe(pairwiseGroup(entries), true);
            QCOMPARE(describe(PortGroup::group(entries), true), expected);
        }
    }

    // 2,000 workers of one parent on one port: a pairwise comparison takes
    // hundreds of milliseconds here even in an optimised build.
    void groupOfManySharersIsFast()
    {
        QList<PortEntry> entries;
        entries.append(entry(8000, 1000, 1, {"listen"}));
        for (qint64 pid = 1001; pid <= 3000; ++pid)
            entries.append(entry(8000, pid, 1000, {"listen"}));
        QElapsedTimer clock;
        clock.start();
        const QList<PortGroup> groups = PortGroup::group(entries);
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups.constFirst().members.size(), 2001);
        QCOMPARE(groups.constFirst().primaryPID, 1000);
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
