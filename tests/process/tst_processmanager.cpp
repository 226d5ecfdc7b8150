#include "TestSupport.h"
#include "process/ProcessManager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>
#include <unistd.h>

using namespace varlo;
using namespace std::chrono_literals;
using varlo::test::awaitTask;
using varlo::test::TestListener;
using varlo::test::waitUntil;

namespace {

// Records what would be signalled. A target exits once it is sent SIGTERM,
// unless SIGTERM fails with `termError`.
class FakeSender : public SignalSender
{
public:
    QStringList events;
    int termError = 0;

    std::unique_ptr<SignalTarget> open(qint32 pid) override
    {
        events << QStringLiteral("open %1").arg(pid);
        return std::make_unique<Target>(this, pid);
    }

private:
    class Target : public SignalTarget
    {
    public:
        Target(FakeSender* owner, qint32 pid) : m_owner(owner), m_pid(pid) {}

        int send(int signal) override
        {
            m_owner->events << QStringLiteral("signal %1 %2").arg(m_pid).arg(signal);
            if (signal != SIGTERM)
                return 0;
            m_exited = m_owner->termError == 0;
            return m_owner->termError;
        }

        bool hasExited() override
        {
            m_owner->events << QStringLiteral("probe %1").arg(m_pid);
            return m_exited;
        }

    private:
        FakeSender* m_owner;
        qint32 m_pid;
        bool m_exited = false;
    };
};

// Stands in for lsof; runs on a pool thread, read only after the task finished.
struct FakeLsof
{
    QString output;
    QString executable;
    QStringList arguments;
    double timeout = 0;
};

CommandRunner fakeRunner(const std::shared_ptr<FakeLsof>& lsof)
{
    return [lsof](const QString& exe, const QStringList& args, double limit) {
        lsof->executable = exe;
        lsof->arguments = args;
        lsof->timeout = limit;
        return lsof->output;
    };
}

// Real lsof, but only pids this test started get through, so a sweep can
// never reach anyone else's process.
CommandRunner ownPidsOnly(const QSet<qint64>& ours)
{
    return [ours](const QString& exe, const QStringList& args, double limit) {
        QStringList kept;
        const QStringList lines = runCommand(exe, args, limit).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            if (ours.contains(line.trimmed().toLongLong()))
                kept << line;
        }
        return kept.join(QLatin1Char('\n'));
    };
}

qint32 narrow(qint64 pid)
{
    return static_cast<qint32>(pid);
}

} // namespace

class TstProcessManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseListeningPIDs_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QList<qint32>>("pids");

        QTest::newRow("empty") << "" << QList<qint32>{};
        QTest::newRow("blank lines") << "\n123\n\n456\n" << QList<qint32>{123, 456};
        QTest::newRow("surrounding blanks") << "  77\t\n\t 88 " << QList<qint32>{77, 88};
        QTest::newRow("non-numeric") << "abc\n12\n1x\n1 2\n \n" << QList<qint32>{12};
        QTest::newRow("signs") << "+5\n-7" << QList<qint32>{5, -7};
        QTest::newRow("32-bit range") << "2147483647\n2147483648\n-2147483648\n-2147483649"
                                      << QList<qint32>{2147483647, -2147483647 - 1};
        QTest::newRow("duplicates kept") << "9\n9" << QList<qint32>{9, 9};
    }

    void parseListeningPIDs()
    {
        QFETCH(QString, output);
        QTEST(ProcessManager::parseListeningPIDs(output), "pids");
    }

    void refusedPidsAreNeverSignalled_data()
    {
        QTest::addColumn<qint32>("pid");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("-1") << -1;
        QTest::newRow("minimum") << std::numeric_limits<qint32>::min();
        QTest::newRow("own") << narrow(::getpid());
    }

    void refusedPidsAreNeverSignalled()
    {
        QFETCH(qint32, pid);
        auto sender = std::make_shared<FakeSender>();
        ProcessManager manager({}, fakeRunner(std::make_shared<FakeLsof>()), sender);
        QCOMPARE(awaitTask(manager.terminate(pid), 5s), std::optional<bool>(false));
        QCOMPARE(sender->events, QStringList{});

        // The real sender refuses them as well, should anything get past the manager.
        const auto real = SystemSignalSender().open(pid);
        QCOMPARE(real->send(0), EPERM);
    }

    void killGroupSkipsRefusedPids()
    {
        auto sender = std::make_shared<FakeSender>();
        auto lsof = std::make_shared<FakeLsof>();
        const qint32 own = narrow(::getpid());
        lsof->output = QStringLiteral("0\n1\n-1\n%1\n").arg(own);
        ToolPaths tools;
        tools.lsof = QStringLiteral("/opt/fake/lsof");
        ProcessManager manager(tools, fakeRunner(lsof), sender);

        QCOMPARE(awaitTask(manager.killGroup(qint64(own), {0, 1, -1, own}, 4321), 5s),
                 std::optional<bool>(true));
        QCOMPARE(sender->events, QStringList{});
        QCOMPARE(lsof->executable, tools.lsof);
        QCOMPARE(lsof->arguments, (QStringList{"-t", "-nP", "-iTCP:4321", "-sTCP:LISTEN"}));
        QCOMPARE(lsof->timeout, 8.0);
    }

    void killGroupOrder()
    {
        // Fake pids: nothing here reaches the kernel.
        const qint32 p = 3000001;
        QVERIFY(::getpid() < p || ::getpid() > p + 3);
        auto sender = std::make_shared<FakeSender>();
        auto lsof = std::make_shared<FakeLsof>();
        lsof->output = QStringLiteral("%1\n").arg(p + 3);
        ProcessManager manager({}, fakeRunner(lsof), sender);

        QCOMPARE(awaitTask(manager.killGroup(qint64(p), {p, p + 1, p + 1, p + 2}, 3000), 5s),
                 std::optional<bool>(true));

        const auto e = [](const char* what, qint32 pid, int signal = -1) {
            return signal < 0 ? QStringLiteral("%1 %2").arg(what).arg(pid)
                              : QStringLiteral("%1 %2 %3").arg(what).arg(pid).arg(signal);
        };
        QStringList events = sender->events;
        QCOMPARE(events.size(), 14);
        // The primary alone, then every other member signalled before any of them is polled.
        QCOMPARE(events.mid(0, 9),
                 (QStringList{e("open", p), e("signal", p, SIGTERM), e("probe", p), e("open", p + 1),
                              e("signal", p + 1, SIGTERM), e("open", p + 1), e("signal", p + 1, SIGTERM),
                              e("open", p + 2), e("signal", p + 2, SIGTERM)}));
        QStringList probes = events.mid(9, 3);
        probes.sort();
        QCOMPARE(probes, (QStringList{e("probe", p + 1), e("probe", p + 1), e("probe", p + 2)}));
        // The sweep reaches a listener that was not a member.
        QCOMPARE(events.mid(12), (QStringList{e("open", p + 3), e("signal", p + 3, SIGKILL)}));
    }

    void terminateFailingSignal_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("result");
        QTest::newRow("already gone") << ESRCH << true;
        QTest::newRow("not permitted") << EPERM << false;
    }

    void terminateFailingSignal()
    {
        QFETCH(int, error);
        auto sender = std::make_shared<FakeSender>();
        sender->termError = error;
        ProcessManager manager({}, fakeRunner(std::make_shared<FakeLsof>()), sender);

        // No probe in the events below: a refused signal returns without waiting.
        QTEST(*awaitTask(manager.terminate(3000001), 5s), "result");
        QCOMPARE(sender->events,
                 (QStringList{"open 3000001", QStringLiteral("signal 3000001 %1").arg(SIGTERM)}));
    }

    void terminateExitsOnTerm_data()
    {
        QTest::addColumn<SystemSignalSender::Mode>("mode");
        QTest::newRow("pidfd") << SystemSignalSender::Mode::PreferPidfd;
        QTest::newRow("kill") << SystemSignalSender::Mode::KillOnly;
    }

    void terminateExitsOnTerm()
    {
        QFETCH(SystemSignalSender::Mode, mode);
        if (mode == SystemSignalSender::Mode::PreferPidfd && !SystemSignalSender::hasPidfd())
            QSKIP("no pidfd on this system");
        TestListener listener;
        QVERIFY(listener.start({test::freeLoopbackPort()}));
        ProcessManager manager({}, {}, std::make_shared<SystemSignalSender>(mode));

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(awaitTask(manager.terminate(narrow(listener.pid())), 10s), std::optional<bool>(true));
        const qint64 elapsed = clock.elapsed();
        qInfo("gone after %lld ms", elapsed);
        QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
        QVERIFY(!TestListener::isAlive(listener.pid()));
    }

    void terminateSeesAnUnreapedExit()
    {
        // The helper never reaps its workers: a dead worker stays a zombie, which
        // signal 0 still finds but its pidfd reports as exited.
        if (!SystemSignalSender::hasPidfd())
            QSKIP("no pidfd on this system");
        TestListener listener;
        TestListener::Options options;
        options.workers = 1;
        QVERIFY(listener.start({test::freeLoopbackPort()}, options));
        ProcessManager manager;

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(awaitTask(manager.terminate(narrow(listener.workerPids().constFirst())), 10s),
                 std::optional<bool>(true));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    void terminateKillsWhatIgnoresTerm()
    {
        TestListener listener;
        TestListener::Options options;
        options.ignoreTerm = true;
        QVERIFY(listener.start({test::freeLoopbackPort()}, options));
        ProcessManager manager;

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(awaitTask(manager.terminate(narrow(listener.pid())), 15s), std::optional<bool>(true));
        const qint64 elapsed = clock.elapsed();
        qInfo("SIGKILL after %lld ms", elapsed);
        QVERIFY2(elapsed >= 3000 && elapsed < 4500, qPrintable(QString::number(elapsed)));
        QVERIFY(waitUntil([&] { return !TestListener::isAlive(listener.pid()); }, 2s));
    }

    void terminateMissingPid_data()
    {
        // Above the kernel's pid limit, so no process can hold these.
        QTest::addColumn<qint32>("pid");
        QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
        if (pidMax.open(QIODevice::ReadOnly)) {
            const qint64 limit = pidMax.readAll().trimmed().toLongLong();
            if (limit > 1 && limit < std::numeric_limits<qint32>::max())
                QTest::newRow("pid_max") << narrow(limit);
        }
        QTest::newRow("largest") << std::numeric_limits<qint32>::max();
    }

    void terminateMissingPid()
    {
        QFETCH(qint32, pid);
        ProcessManager manager;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(awaitTask(manager.terminate(pid), 5s), std::optional<bool>(true));
        QVERIFY(clock.elapsed() < 100);
    }

    void killGroupFreesThePort()
    {
        if (ToolPaths::system().lsof.isEmpty())
            QSKIP("lsof is not installed");
        const quint16 port = test::freeLoopbackPort();
        TestListener group;
        TestListener::Options options;
        options.workers = 2;
        options.reusePort = true;
        QVERIFY(group.start({port}, options));
        // Shares the port but is no member of the group.
        TestListener stranger;
        TestListener::Options strangerOptions;
        strangerOptions.reusePort = true;
        QVERIFY(stranger.start({port}, strangerOptions));

        const QList<qint64> groupPids = group.allPids();
        QSet<qint64> ours(groupPids.cbegin(), groupPids.cend());
        ours.insert(stranger.pid());
        ProcessManager manager(ToolPaths::system(), ownPidsOnly(ours));
        const QList<qint32> before = manager.listeningPIDs(port);
        for (qint64 pid : std::as_const(ours))
            QVERIFY2(before.contains(narrow(pid)), qPrintable(QString::number(pid)));

        QList<qint32> members;
        for (qint64 pid : groupPids)
            members << narrow(pid);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(awaitTask(manager.killGroup(group.pid(), members, port), 30s), std::optional<bool>(true));
        qInfo("killGroup took %lld ms", clock.elapsed());

        QVERIFY(waitUntil([&] { return manager.listeningPIDs(port).isEmpty(); }, 3s));
        QVERIFY(waitUntil(
            [&] {
                return std::none_of(ours.cbegin(), ours.cend(),
                                    [](qint64 pid) { return TestListener::isAlive(pid); });
            },
            3s));
    }
};

QTEST_GUILESS_MAIN(TstProcessManager)
#include "tst_processmanager.moc"
