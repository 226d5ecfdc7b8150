#include "monitor/PortEntry.h"

#include <QTest>

using namespace varlo;

namespace {

PortEntry entry(qint64 port, qint64 pid, qint64 ppid = 0, QSet<QString> devices = {})
{
    PortEntry result;
    result.port = port;
    result.pid = pid;
    result.ppid = ppid;
    result.devices = std::move(devices);
    return result;
}

// "<port>[*<primary pid>][!]:<member pids>" per group.
QString describe(const QList<PortGroup>& groups)
{
    QStringList parts;
    for (const PortGroup& group : groups) {
        QStringList pids;
        for (const PortEntry& member : group.members)
            pids << QString::number(member.pid);
        parts << QString::number(group.port) +
                     (group.primaryPID ? u'*' + QString::number(*group.primaryPID) : QString()) +
                     QLatin1StringView(group.sharesPortWithOthers ? "!:" : ":") + pids.join(u',');
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
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QList<PortEntry>{} << "";
        QTest::newRow("single") << QList{entry(3000, 812)} << "3000:812";
        QTest::newRow("parent and workers")
            << QList{entry(8000, 103, 100), entry(8000, 100, 1), entry(8000, 101, 100), entry(8000, 102, 100)}
            << "8000*100:100,101,102,103";
        QTest::newRow("parent with larger pid")
            << QList{entry(3000, 100, 500), entry(3000, 500, 1)} << "3000*500:500,100";
        QTest::newRow("siblings") << QList{entry(3000, 20, 10), entry(3000, 15, 10)} << "3000*15:15,20";
        QTest::newRow("shared device, no ppid")
            << QList{entry(4000, 50, 0, {"a"}), entry(4000, 40, 0, {"a", "b"})} << "4000*40:40,50";
        QTest::newRow("devices chain")
            << QList{entry(4000, 30, 0, {"d1"}), entry(4000, 10, 0, {"d2"}), entry(4000, 20, 0, {"d1", "d2"})}
            << "4000*10:10,20,30";
        QTest::newRow("no root") << QList{entry(3000, 20, 10), entry(3000, 10, 20)} << "3000*10:10,20";
        QTest::newRow("unrelated") << QList{entry(5432, 9, 0, {"a"}), entry(5432, 7, 0, {"b"})}
                                   << "5432!:7 5432!:9";
        QTest::newRow("nothing known") << QList{entry(3000, 2), entry(3000, 1)} << "3000!:1 3000!:2";
        QTest::newRow("family and stranger")
            << QList{entry(8080, 1), entry(3000, 101, 100), entry(3000, 50, 7), entry(3000, 100, 1)}
            << "3000!:50 3000*100!:100,101 8080:1";
    }
    void group()
    {
        QFETCH(QList<PortEntry>, entries);
        QFETCH(QString, expected);
        const QList<PortGroup> groups = PortGroup::group(entries);
        QCOMPARE(describe(groups), expected);
        for (const PortGroup& group : groups)
            QCOMPARE(group.id(), QStringLiteral("%1-%2").arg(group.port).arg(group.members.constFirst().pid));
    }

    void manyEntries()
    {
        // 100 ports of 10 entries: siblings on odd ports, strangers on even ones.
        QList<PortEntry> entries;
        for (int i = 0; i < 1000; ++i)
            entries.append(entry(3000 + i % 100, 10 + i, i % 2));
        const QList<PortGroup> groups = PortGroup::group(entries);
        QCOMPARE(groups.size(), 50 * 10 + 50);
        qsizetype members = 0;
        for (qsizetype i = 0; i < groups.size(); ++i) {
            members += groups[i].members.size();
            QCOMPARE(groups[i].sharesPortWithOthers, groups[i].port % 2 == 0);
            if (i > 0)
                QVERIFY(std::pair(groups[i - 1].port, groups[i - 1].primary().pid) <
                        std::pair(groups[i].port, groups[i].primary().pid));
        }
        QCOMPARE(members, 1000);
    }

    void derivedMembers()
    {
        PortEntry subject = entry(5173, 1);
        subject.processName = QStringLiteral("postgres");
        subject.binaryPath = QStringLiteral("/usr/bin/node");
        QCOMPARE(subject.displayPath(QStringLiteral("/Users/ann")), subject.binaryPath);
        subject.workingDirectory = QStringLiteral("/Users/ann/code/api");
        QCOMPARE(subject.displayPath(QStringLiteral("/Users/ann")), QStringLiteral("~/code/api"));
        QCOMPARE(subject.displayPath(QStringLiteral("/Users/bob")), subject.workingDirectory);
        subject.workingDirectory = QStringLiteral("/Users/ann");
        QCOMPARE(subject.displayPath(QStringLiteral("/Users/ann")), QStringLiteral("~"));
        subject.workingDirectory = QStringLiteral("/Users/annabel/web");
        QCOMPARE(subject.displayPath(QStringLiteral("/Users/ann")), subject.workingDirectory);

        QVERIFY(subject.isLikelyWebServer());
        for (qint64 port : {3009, 8090, 8443, 9000})
            QVERIFY(entry(port, 1).isLikelyWebServer());
        for (qint64 port : {2999, 3010, 8091, 5432})
            QVERIFY(!entry(port, 1).isLikelyWebServer());
        subject.port = 1234;
        QVERIFY(!subject.isLikelyWebServer());
        subject.processName = QStringLiteral("Rails");
        QVERIFY(subject.isLikelyWebServer());
    }

    void protoAndEquality()
    {
        QCOMPARE(rawValue(Proto::tcp), QStringLiteral("TCP"));
        QCOMPARE(protoFromRawValue(QStringLiteral("UDP")), Proto::udp);
        QVERIFY(!protoFromRawValue(QStringLiteral("tcp")));

        const PortEntry first = entry(3000, 812, 1, {"a", "b", "c"});
        QVERIFY(first != entry(3000, 812, 1, {"a", "b", "c"})); // a rescan makes a fresh id
        PortEntry copy = first;
        copy.devices = {"c", "b", "a"};
        QCOMPARE(copy, first);
        QCOMPARE(qHash(copy), qHash(first));
    }
};

QTEST_GUILESS_MAIN(TstPortGroup)
#include "tst_portgroup.moc"
