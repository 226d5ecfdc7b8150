#include "monitor/CommandRunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <unistd.h>

using namespace varlo;

namespace {

// Children of this process, running or exited but never waited for.
int childProcesses()
{
    int children = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        // "pid (comm) S ppid ...", comm may hold spaces
        children += line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong() == ::getpid();
    }
    return children;
}

} // namespace

class TstCommandRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void output_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("maxMs");
        const auto row = [](const char* name, const QString& script, double timeout, const QString& expected,
                            int maxMs = 4000) {
            QTest::newRow(name) << "/bin/sh" << QStringList{"-c", script} << timeout << expected << maxMs;
        };
        row("trimmed utf-8", "printf '  caf\\303\\251\\n\\n'", 20, QStringLiteral("café"));
        row("failing status, stderr dropped", "echo result; echo noise >&2; exit 1", 20, "result");
        row("stderr only", "echo oops >&2", 20, "");
        row("invalid utf-8", "printf 'ok\\377\\376ok'", 20, "");
        row("truncated utf-8", "printf 'ok\\303'", 20, "");
        row("over the cap", "head -c 67108870 /dev/zero", 60, "", 60000);
        // The limit, plus at most two kill graces of 500 ms, plus slack for a busy machine.
        row("time-out", "echo partial; exec sleep 30", 1, "");
        row("time-out, SIGTERM ignored", "trap '' TERM; echo partial; exec sleep 30", 1, "");
        // A limit that is not a positive number must not mean "no limit".
        row("zero limit", "exec sleep 30", 0, "", 1000);
        row("negative limit", "exec sleep 30", -1, "", 1000);
        row("nan limit", "exec sleep 30", std::nan(""), "", 1000);
        row("huge limit", "echo done", 1e300, "done");
        QTest::newRow("no shell") << "/bin/echo" << QStringList{"a  b", "$HOME"} << 20.0 << "a  b $HOME"
                                  << 4000;
        QTest::newRow("missing") << "/nonexistent/varlo-tool" << QStringList{} << 20.0 << "" << 1000;
    }
    void output()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(double, timeout);
        QFETCH(int, maxMs);
        QElapsedTimer clock;
        clock.start();
        QTEST(runCommand(program, arguments, timeout), "expected");
        QCOMPARE_LT(clock.elapsed(), maxMs);
        QCOMPARE(childProcesses(), 0); // ended and reaped
    }

    // A tool past its limit is asked to end (SIGTERM) before it is killed.
    void timeOutTerminatesFirst()
    {
        QTemporaryDir dir;
        const QString mark = dir.filePath("terminated");
        const CommandResult run = runCommandWithOutcome(
            "/bin/sh", {"-c", "trap 'touch \"$0\"; exit 0' TERM; while :; do sleep 0.05; done", mark}, 0.3);
        QCOMPARE(run.outcome, CommandResult::Outcome::timedOut);
        QVERIFY(QFile::exists(mark));
    }

    void concurrentRuns()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(8);
        QList<QFuture<QString>> futures;
        for (int i = 0; i < 8; ++i)
            futures << QtConcurrent::run(&pool, [i] {
                return runCommand("/bin/sh", {"-c", QStringLiteral("sleep 0.2; echo run%1").arg(i)}, 20.0);
            });
        for (int i = 0; i < 8; ++i)
            QCOMPARE(futures[i].result(), QStringLiteral("run%1").arg(i));
        QCOMPARE(childProcesses(), 0);
    }
};

QTEST_GUILESS_MAIN(TstCommandRunner)
#include "tst_commandrunner.moc"
