#include "TestSupport.h"
#include "monitor/ToolPaths.h"
#include "process/ProcDetail.h"
#include "process/ProcessInspector.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>

using namespace varlo;
using namespace std::chrono_literals;

class TstProcDetail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<QByteArray>("cmdline");
        QTest::addColumn<QString>("expected"); // "cpu|bytes|uptime|command", empty for nothing
        // utime 150 and stime 50 ticks (2 s of CPU); started at tick 10000 (100 s); rss 256 pages.
        const auto stat = [](const QByteArray& name, const QByteArray& rss = "256") {
            return "42 (" + name + ") S 1 1 1 0 -1 0 0 0 0 0 150 50 0 0 20 0 1 0 10000 0 " + rss + " 0 0\n";
        };
        QTest::newRow("server") << stat("node") << QByteArray("/usr/bin/node\0server.js\0", 24)
                                << "0.4|1048576|500|/usr/bin/node server.js";
        QTest::newRow("spaces inside arguments become single")
            << stat("My App") << QByteArray("/opt/My  App/app\0--title\0a  b\0", 30)
            << "0.4|1048576|500|/opt/My App/app --title a b";
        QTest::newRow("kernel thread") << stat("kworker/0:1") << QByteArray() << "0.4|1048576|500|[kworker/0:1]";
        QTest::newRow("rss not a number") << stat("x", "-5") << QByteArray("x\0", 2) << QString();
        QTest::newRow("truncated") << QByteArray("42 (x) S 1 1 1\n") << QByteArray("x\0", 2) << QString();
        QTest::newRow("no name") << QByteArray("42 x S") << QByteArray() << QString();
    }
    void parse()
    {
        QFETCH(QByteArray, stat);
        QFETCH(QByteArray, cmdline);
        // Booted 600 s ago, 100 ticks a second, 4 KiB pages.
        const auto detail = ProcDetail::parse(stat, cmdline, ProcDetail::Units{600.0, 100, 4096});
        QTEST(detail ? QStringLiteral("%1|%2|%3|%4")
                           .arg(detail->cpuPercent)
                           .arg(detail->memoryBytes)
                           .arg(detail->uptimeSeconds)
                           .arg(detail->fullCommand)
                     : QString(),
              "expected");
    }

    // The same figures ps gives for this very process, read off the main thread.
    void agreesWithPs()
    {
        if (ToolPaths::system().ps.isEmpty())
            QSKIP("ps is not installed");
        const qint64 pid = QCoreApplication::applicationPid();
        // Both give the lifetime share over whole seconds: a process under a few
        // seconds old swings by tens of percent between the two readings.
        for (int i = 0; i < 60 && ProcDetail::readBlocking(pid).value_or(ProcessDetail{}).uptimeSeconds < 4; ++i)
            QTest::qWait(100);
        const auto fromProc = test::awaitTask(ProcDetail::read(pid), 20s).value_or(std::nullopt);
        std::atomic<int> runs{0}, onMainThread{0};
        const ProcessInspector inspector(ToolPaths::system(),
                                         [&](const QString& exe, const QStringList& args, double limit) {
                                             ++runs;
                                             onMainThread += QThread::currentThread() == qApp->thread();
                                             return runCommand(exe, args, limit);
                                         });
        // Non-positive ids would reach ps as options.
        for (const qint64 bad : {qint64(0), qint64(-1)})
            QVERIFY(!test::awaitTask(inspector.detail(bad), 10s).value_or(std::nullopt));
        const auto fromPs = test::awaitTask(inspector.detail(pid), 20s).value_or(std::nullopt);
        QVERIFY(fromProc && fromPs);
        QVERIFY(runs == 1 && onMainThread == 0);
        QCOMPARE(fromProc->fullCommand, fromPs->fullCommand);
        QVERIFY(std::abs(fromProc->uptimeSeconds - fromPs->uptimeSeconds) <= 2);
        QVERIFY(std::abs(fromProc->memoryBytes - fromPs->memoryBytes) < (qint64(8) << 20));
        QVERIFY2(std::abs(fromProc->cpuPercent - fromPs->cpuPercent) < 20,
                 qPrintable(QStringLiteral("%1 %2").arg(fromProc->cpuPercent).arg(fromPs->cpuPercent)));
        for (const qint64 bad : {qint64(0), qint64(-1), qint64(1) << 40})
            QVERIFY(!ProcDetail::readBlocking(bad));
    }
};

QTEST_GUILESS_MAIN(TstProcDetail)
#include "tst_procdetail.moc"
