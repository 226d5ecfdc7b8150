#include "TestSupport.h"
#include "process/ProcessManager.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>
#include <unistd.h>

using namespace varlo;
using namespace std::chrono_literals;
using namespace varlo::test;

// Scripted processes: those in `pollsToExit` exit that many polls after SIGTERM,
// any other refuses every signal (EPERM). Opens, signals and exits are logged;
// nothing reaches the kernel.
struct ScriptedSender : SignalSender
{
    QList<qint32> opened;
    QStringList events;
    QHash<qint32, int> pollsToExit;

    struct Target : SignalTarget
    {
        ScriptedSender* sender;
        qint32 pid;
        int polls = 0;

        Target(ScriptedSender* s, qint32 p) : sender(s), pid(p) {}
        int send(int signal) override
        {
            sender->events << QStringLiteral("%1 %2").arg(signal == SIGTERM ? "TERM" : "KILL").arg(pid);
            return sender->pollsToExit.contains(pid) ? 0 : EPERM;
        }
        bool hasExited() override
        {
            const bool exited = sender->pollsToExit.contains(pid) && ++polls >= sender->pollsToExit[pid];
            if (exited)
                sender->events << QStringLiteral("exit %1").arg(pid);
            return exited;
        }
    };
    std::unique_ptr<SignalTarget> open(qint32 pid) override
    {
        opened << pid;
        return std::make_unique<Target>(this, pid);
    }
};

class TstProcessManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseListeningPIDs_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QList<qint32>>("pids");
        QTest::newRow("blanks, duplicates") << "\n  77\t\n\n\t 77 \n88" << QList<qint32>{77, 77, 88};
        QTest::newRow("non-numeric") << "abc\n12\n1x\n1 2\n \n" << QList<qint32>{12};
        QTest::newRow("signs") << "+5\n-7" << QList<qint32>{5, -7};
        QTest::newRow("32-bit range") << "2147483647\n2147483648\n-2147483648\n-2147483649"
                                      << QList<qint32>{2147483647, -2147483647 - 1};
    }

    void parseListeningPIDs()
    {
        QFETCH(QString, output);
        QTEST(ProcessManager::parseListeningPIDs(output), "pids");
    }

    void signalGuards_data()
    {
        QTest::addColumn<qint32>("pid");
        QTest::addColumn<int>("opens"); // terminate, then killGroup whose sweep finds the pid again
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 0;
        QTest::newRow("-1") << -1 << 0;
        QTest::newRow("minimum") << std::numeric_limits<qint32>::min() << 0;
        QTest::newRow("own") << qint32(::getpid()) << 0;
        QTest::newRow("signal refused") << 3000001 << 3;
    }

    void signalGuards()
    {
        QFETCH(qint32, pid);
        QFETCH(int, opens);
        auto sender = std::make_shared<ScriptedSender>();
        const auto lsof = [pid](const QString&, const QStringList&, double) { return QString::number(pid); };
        ProcessManager manager({}, lsof, sender);
        QCOMPARE(awaitTask(manager.terminate(pid), 5s), std::optional<bool>(false));
        QCOMPARE(awaitTask(manager.killGroup(pid, {pid}, 4321), 5s), std::optional<bool>(true));
        QCOMPARE(sender->opened.size(), opens);
        // The real sender refuses them as well, should anything get past the manager.
        if (opens == 0)
            QCOMPARE(SystemSignalSender().open(pid)->send(0), EPERM);
    }

    void killGroupEndsThePrimaryBeforeTheOthers()
    {
        auto sender = std::make_shared<ScriptedSender>();
        sender->pollsToExit = {{3000001, 2}, {3000002, 1}, {3000003, 1}};
        const auto lsof = [](const QString&, const QStringList&, double) {
            return QStringLiteral("3000009");
        };
        ProcessManager manager({}, lsof, sender);
        QCOMPARE(awaitTask(manager.killGroup(3000001, {3000002, 3000001, 3000003}, 4321), 5s),
                 std::optional<bool>(true));
        // The primary alone, then the other members side by side, then whatever still listens.
        QCOMPARE(sender->events, (QStringList{"TERM 3000001", "exit 3000001", "TERM 3000002", "TERM 3000003",
                                              "exit 3000002", "exit 3000003", "KILL 3000009"}));
    }

    void terminatePollsEveryTenthOfASecond()
    {
        auto sender = std::make_shared<ScriptedSender>();
        sender->pollsToExit.insert(3000001, 3);
        ProcessManager manager({}, {}, sender);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(awaitTask(manager.terminate(3000001), 10s), std::optional<bool>(true));
        QCOMPARE(sender->events, (QStringList{"TERM 3000001", "exit 3000001"}));
        QCOMPARE_GE(clock.elapsed(), 250);
        QCOMPARE_LT(clock.elapsed(), 700);
    }

    void terminate_data()
    {
        QTest::addColumn<SystemSignalSender::Mode>("mode");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        using Mode = SystemSignalSender::Mode;
        QTest::newRow("exits, pidfd") << Mode::PreferPidfd << "listener" << 0 << 1000;
        QTest::newRow("exits, kill") << Mode::KillOnly << "listener" << 0 << 1000;
        QTest::newRow("unreaped worker (zombie)") << Mode::PreferPidfd << "worker" << 0 << 1000;
        QTest::newRow("ignores TERM") << Mode::PreferPidfd << "ignores TERM" << 3000 << 4500;
        QTest::newRow("missing pid") << Mode::KillOnly << "missing" << 0 << 100;
    }

    void terminate()
    {
        QFETCH(SystemSignalSender::Mode, mode);
        QFETCH(QString, target);
        if (target == "worker" && !SystemSignalSender::hasPidfd())
            QSKIP("no pidfd on this system");
        TestListener listener;
        TestListener::Options options = TestListener::Options::withWorkers(target == "worker" ? 1 : 0);
        options.ignoreTerm = target == "ignores TERM";
        QVERIFY(listener.start({test::freeLoopbackPort()}, options));
        // Above any kernel's pid limit.
        const qint64 pid = target == "missing"  ? std::numeric_limits<qint32>::max()
                           : target == "worker" ? listener.workerPids().constFirst()
                                                : listener.pid();
        ProcessManager manager({}, {}, std::make_shared<SystemSignalSender>(mode));

        const auto started = std::chrono::steady_clock::now();
        QCOMPARE(awaitTask(manager.terminate(qint32(pid)), 15s), std::optional<bool>(true));
        const qint64 elapsed = (std::chrono::steady_clock::now() - started) / 1ms;
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QVERIFY2(elapsed >= minMs && elapsed < maxMs, qPrintable(QString::number(elapsed)));
        QVERIFY(waitUntil([&] { return !TestListener::isAlive(pid); }, 2s));
    }

    void killGroupFreesThePort()
    {
        const quint16 port = test::freeLoopbackPort();
        TestListener group;
        TestListener::Options options = TestListener::Options::withWorkers(2);
        options.reusePort = true;
        QVERIFY(group.start({port}, options));
        TestListener stranger; // shares the port, no member of the group
        options.workers = 0;
        QVERIFY(stranger.start({port}, options));

        const QList<qint64> groupPids = group.allPids();
        QSet<qint64> ours(groupPids.cbegin(), groupPids.cend());
        ours.insert(stranger.pid());
        // Real lsof, but only pids this test started get through to the sweep.
        ProcessManager manager(ToolPaths::system(), [ours](const QString& exe, const QStringList& args,
                                                           double limit) {
            QStringList kept = runCommand(exe, args, limit).split(u'\n');
            kept.removeIf([&](const QString& line) { return !ours.contains(line.trimmed().toLongLong()); });
            return kept.join(u'\n');
        });
        QList<qint32> members(groupPids.cbegin(), groupPids.cend());
        QCOMPARE(awaitTask(manager.killGroup(group.pid(), members, port), 30s), std::optional<bool>(true));
        QVERIFY(waitUntil([&] { return manager.listeningPIDs(port).isEmpty(); }, 3s));
        QVERIFY(
            waitUntil([&] { return std::none_of(ours.cbegin(), ours.cend(), TestListener::isAlive); }, 3s));
    }
};

QTEST_GUILESS_MAIN(TstProcessManager)
#include "tst_processmanager.moc"
