#include "EntryText.h"
#include "monitor/ProcNetSource.h"

#include <QTest>
#include <unistd.h>

using namespace varlo;

namespace {

// A /proc that tests write: who holds which socket, who is alive.
struct FakeProc
{
    QHash<quint64, QList<SocketOwner>> holders;
    QHash<quint16, SocketOwner> proxies;
    QHash<qint64, ProcStat> alive;
    bool complete = true;
    int walks = 0;
    int stats = 0; // stat reads
    // Runs inside the walk, after it read the holders: a process dying meanwhile.
    std::function<void()> duringWalk;

    SocketOwnerCache::Probe probe()
    {
        return {[this](const QSet<quint64>& inodes) {
                    ++walks;
                    OwnerWalk walk;
                    for (const quint64 inode : inodes) {
                        if (holders.contains(inode))
                            walk.owners.insert(inode, holders.value(inode));
                    }
                    walk.proxies = proxies;
                    walk.complete = complete;
                    if (duringWalk)
                        duringWalk();
                    return walk;
                },
                [this](qint64 pid) {
                    ++stats;
                    return alive.contains(pid) ? std::optional(alive.value(pid)) : std::nullopt;
                }};
    }

    void start(qint64 pid, quint64 ticks, const QString& name, qint64 ppid, QList<quint64> inodes)
    {
        alive.insert(pid, ProcStat{name, ppid, ticks});
        for (const quint64 inode : inodes)
            holders[inode].append(SocketOwner{pid, ticks});
    }
    void stop(qint64 pid)
    {
        alive.remove(pid);
        for (QList<SocketOwner>& owners : holders)
            owners.removeIf([pid](const SocketOwner& owner) { return owner.pid == pid; });
    }
};

ListeningSocket socket(quint16 port, quint64 inode, bool loopback = true, quint32 uid = ::geteuid())
{
    return ListeningSocket{port, loopback, uid, inode};
}

QString fakeLink(qint64 pid, const char* link)
{
    return QStringLiteral("/%1/%2").arg(QLatin1StringView(link)).arg(pid);
}

} // namespace

class TstProcNetSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseStat_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected"); // "name|ppid|start", empty for nothing
        // Fields 5 to 21 (pgrp ... nice, threads, itrealvalue), then starttime.
        const QByteArray zeros = QByteArray(" 0").repeated(17);
        const QByteArray tail = zeros + " 98765 1 2 3\n";
        QTest::newRow("plain") << "812 (node) S 77" + tail << "node|77|98765";
        QTest::newRow("spaces and parentheses in the name")
            << "9 (My (Dev) Server) R 1" + tail << "My (Dev) Server|1|98765";
        QTest::newRow("name that fakes the fields") << "9 (x) S 5 6) S 1" + tail << "x) S 5 6|1|98765";
        QTest::newRow("too few fields") << QByteArray("9 (x) S 1 2 3\n") << QString();
        QTest::newRow("no name") << "9 x S 1" + tail << QString();
        QTest::newRow("ppid not a number") << "9 (x) S -1" + tail << QString();
        QTest::newRow("start time overflows")
            << "9 (x) S 1" + zeros + " 99999999999999999999 1\n" << QString();
    }
    void parseStat()
    {
        QFETCH(QByteArray, text);
        const std::optional<ProcStat> stat = procfs::parseStat(text);
        QTEST(stat ? QStringLiteral("%1|%2|%3").arg(stat->name).arg(stat->ppid).arg(stat->startTicks) : QString(),
              "expected");
    }

    void dockerProxyHostPort_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("port"); // 0 for nothing
        QTest::newRow("real shape") << QStringList{"/usr/bin/docker-proxy", "-proto", "tcp", "-host-ip",
                                                   "0.0.0.0", "-host-port", "8080", "-container-ip",
                                                   "172.17.0.2", "-container-port", "80"}
                                    << 8080;
        QTest::newRow("double dash") << QStringList{"docker-proxy", "--host-port", "443"} << 443;
        QTest::newRow("value missing") << QStringList{"docker-proxy", "-host-port"} << 0;
        QTest::newRow("out of range") << QStringList{"docker-proxy", "-host-port", "65536"} << 0;
        QTest::newRow("zero, not a number") << QStringList{"docker-proxy", "-host-port", "0"} << 0;
        QTest::newRow("program name only counts as the program")
            << QStringList{"-host-port", "8080"} << 0;
    }
    void dockerProxyHostPort()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, port);
        QCOMPARE(procfs::dockerProxyHostPort(arguments), port ? std::optional(quint16(port)) : std::nullopt);
    }

    void holderMayBeHidden_data()
    {
        QTest::addColumn<quint32>("socketUid");
        QTest::addColumn<bool>("walkComplete");
        QTest::addColumn<quint32>("ourUid");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("root, complete walk: the holder died") << 1000u << true << 0u << false;
        QTest::newRow("root, walk cut short") << 1000u << false << 0u << true;
        QTest::newRow("user, own socket, complete") << 1000u << true << 1000u << false;
        QTest::newRow("user, another's socket (hidepid)") << 0u << true << 1000u << true;
        QTest::newRow("user, own socket, incomplete") << 1000u << false << 1000u << true;
    }
    void holderMayBeHidden()
    {
        QFETCH(quint32, socketUid);
        QFETCH(bool, walkComplete);
        QFETCH(quint32, ourUid);
        QTEST(ProcNetSource::holderMayBeHidden(socket(1, 1, true, socketUid), walkComplete, ourUid), "hidden");
    }

    // /proc is walked for a new socket or a gone holder, and only then.
    void cacheWalksOnlyWhenNeeded()
    {
        FakeProc proc;
        proc.start(100, 5, "api", 1, {11});
        SocketOwnerCache cache(proc.probe());
        QList<ListeningSocket> sockets{socket(3000, 11)};
        QCOMPARE(cache.resolve(sockets).byInode.value(11), (QList<SocketOwner>{{100, 5}}));
        proc.stats = 0;
        QCOMPARE(cache.resolve(sockets).byInode.value(11), (QList<SocketOwner>{{100, 5}}));
        QCOMPARE(proc.walks, 1);
        QCOMPARE(proc.stats, 1); // one read per holder and cycle

        sockets.removeFirst(); // a socket gone needs no walk
        QVERIFY(cache.resolve(sockets).byInode.isEmpty());
        QCOMPARE(proc.walks, 1);

        proc.start(200, 6, "web", 1, {12});
        sockets.append(socket(4000, 12));
        QCOMPARE(cache.resolve(sockets).stats.value(200).name, QStringLiteral("web"));
        QCOMPARE(proc.walks, 2);

        // A worker of the same socket dying forces a walk; the survivor stays.
        proc.start(201, 7, "web", 200, {12});
        proc.start(300, 8, "other", 1, {13});
        sockets.append(socket(5000, 13));
        QCOMPARE(cache.resolve(sockets).byInode.value(12), (QList<SocketOwner>{{200, 6}, {201, 7}}));
        QCOMPARE(proc.walks, 3);
        proc.stop(201);
        QCOMPARE(cache.resolve(sockets).byInode.value(12), (QList<SocketOwner>{{200, 6}}));
        QCOMPARE(proc.walks, 4);
    }

    // A listener that exits and a new one on its port under the same pid are told apart.
    void cacheTellsReusedPidApart()
    {
        FakeProc proc;
        proc.start(100, 5, "old", 1, {11});
        SocketOwnerCache cache(proc.probe());
        QCOMPARE(cache.resolve({socket(3000, 11)}).stats.value(100).name, QStringLiteral("old"));

        proc.stop(100);
        proc.start(100, 9, "new", 1, {21});
        const SocketOwnerCache::Owners owners = cache.resolve({socket(3000, 21)});
        QCOMPARE(owners.byInode.value(21), (QList<SocketOwner>{{100, 9}}));
        QCOMPARE(owners.stats.value(100).name, QStringLiteral("new"));
        QCOMPARE(proc.walks, 2);

        // The same socket, its holder's pid reused by a stranger: walked again, not trusted.
        proc.stop(100);
        proc.alive.insert(100, ProcStat{"stranger", 1, 12});
        QVERIFY(cache.resolve({socket(3000, 21)}).byInode.isEmpty());
        QCOMPARE(proc.walks, 3);
    }

    // A holder that dies between the walk and the stat read is dropped, not misattributed.
    void holderDyingDuringTheWalkIsDropped()
    {
        FakeProc proc;
        proc.start(100, 5, "api", 1, {11});
        proc.start(200, 6, "db", 1, {12});
        proc.duringWalk = [&] {
            proc.alive.remove(100);
            proc.alive.insert(100, ProcStat{"reused", 1, 99});
        };
        ProcNetSource source([] { return std::optional(QList<ListeningSocket>{socket(3000, 11), socket(5432, 12)}); },
                             proc.probe(), &fakeLink);
        QCOMPARE(test::entryTexts(source.scanBlocking(false)), QStringList{"5432 200 db|db||lo|12|0|"});
    }

    void entries_data()
    {
        QTest::addColumn<bool>("details");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QStringList>("expected");
        const QStringList closed{"3000 100 My  Dev Server|My  Dev Server||lo|11,12|0|",
                                 "3000 101 My  Dev Server|My  Dev Server||lo|11,12|0|",
                                 "8080 300 docker-proxy|docker-proxy||all|31|0|", "9000 200 db|db||all|21,22|0|"};
        QTest::newRow("closed panel") << false << true << closed;
        QTest::newRow("open panel")
            << true << true
            << QStringList{"3000 100 My  Dev Server|/exe/100|/cwd/100|lo|11,12|1|",
                           "3000 101 My  Dev Server|/exe/101|/cwd/101|lo|11,12|100|",
                           "8080 300 docker-proxy|/exe/300|/cwd/300|all|31|1|",
                           "9000 200 db|/exe/200|/cwd/200|all|21,22|1|"};
        QTest::newRow("holders hidden")
            << false << false
            << QStringList{closed[0], closed[1], "6000 0 |||all|42|0|nobody", "6000 0 |||lo|41|0|root",
                           closed[2], closed[3]};
    }
    void entries()
    {
        QFETCH(bool, details);
        QFETCH(bool, complete);
        FakeProc proc;
        proc.start(100, 5, "My  Dev Server", 1, {11, 12});
        proc.start(101, 6, "My  Dev Server", 100, {11, 12});
        proc.start(200, 7, "db", 1, {21, 22});
        proc.alive.insert(300, ProcStat{"docker-proxy", 1, 8});
        proc.proxies.insert(8080, SocketOwner{300, 8});
        proc.complete = complete;
        const QList<ListeningSocket> sockets{socket(9000, 21, true),      socket(3000, 11, true),
                                             socket(8080, 31, false, 0),  socket(3000, 12, true),
                                             socket(9000, 22, false),     socket(6000, 41, true, 0),
                                             socket(6000, 42, false, 65534)};
        ProcNetSource source([&] { return std::optional(sockets); }, proc.probe(), &fakeLink);
        QTEST(test::entryTexts(source.scanBlocking(details)), "expected");
    }

    void anyProcessNamed()
    {
        QVERIFY(procfs::anyProcessNamed(procfs::readStat(::getpid())->name));
        QVERIFY(!procfs::anyProcessNamed(QStringLiteral("no-such-proc")));
        QVERIFY(!procfs::anyProcessNamed(QString()));
    }

    void failedDumpIsAFailedScan()
    {
        FakeProc proc;
        ProcNetSource source([] { return std::optional<QList<ListeningSocket>>(); }, proc.probe(), &fakeLink);
        QCOMPARE(source.scanBlocking(true), std::nullopt);
        QCOMPARE(proc.walks, 0);
    }
};

QTEST_GUILESS_MAIN(TstProcNetSource)
#include "tst_procnetsource.moc"
