#include "monitor/CommandRunner.h"
#include "monitor/ToolPaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <unistd.h>

using namespace varlo;

namespace {

const QString sh = QStringLiteral("/bin/sh");

QStringList script(const QString& text)
{
    return {QStringLiteral("-c"), text};
}

// Children of this test process that exited but were never waited for.
int zombieChildren()
{
    int zombies = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) S ppid ..."; comm may hold spaces, so split after the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] == "Z" && fields[1].toLongLong() == ::getpid())
            ++zombies;
    }
    return zombies;
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
        QTest::newRow("trimmed") << sh << script("printf '  hello\\n\\n'") << 20.0 << "hello";
        QTest::newRow("stderr only") << sh << script("echo oops >&2") << 20.0 << "";
        QTest::newRow("failing status")
            << sh << script("echo result; echo noise >&2; exit 1") << 20.0 << "result";
        QTest::newRow("utf-8") << sh << script("printf 'caf\\303\\251'") << 20.0 << QStringLiteral("café");
        QTest::newRow("invalid utf-8") << sh << script("printf 'ok\\377\\376ok'") << 20.0 << "";
        QTest::newRow("truncated utf-8") << sh << script("printf 'ok\\303'") << 20.0 << "";
        QTest::newRow("over the cap") << sh << script("head -c 67108870 /dev/zero") << 60.0 << "";
        QTest::newRow("no shell") << QStringLiteral("/bin/echo") << QStringList{"a  b", "$HOME", "*"} << 20.0
                                  << "a  b $HOME *";
        QTest::newRow("missing") << QStringLiteral("/nonexistent/varlo-tool") << QStringList{} << 20.0 << "";
        QTest::newRow("empty path") << QString() << QStringList{} << 20.0 << "";
        // A limit that is not a positive number must not mean "no limit".
        QTest::newRow("zero limit") << sh << script("exec sleep 30") << 0.0 << "";
        QTest::newRow("negative limit") << sh << script("exec sleep 30") << -1.0 << "";
        QTest::newRow("nan limit") << sh << script("exec sleep 30") << std::nan("") << "";
        QTest::newRow("huge limit") << sh << script("echo done") << 1e300 << "done";
    }
    void output()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(double, timeout);
        QFETCH(QString, expected);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCommand(program, arguments, timeout), expected);
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(zombieChildren(), 0);
    }

    void timeoutEndsAndReapsTheChild_data()
    {
        QTest::addColumn<QString>("prelude");
        QTest::newRow("honours SIGTERM") << "echo partial;";
        QTest::newRow("ignores SIGTERM") << "trap '' TERM; echo partial;";
    }
    void timeoutEndsAndReapsTheChild()
    {
        QFETCH(QString, prelude);
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        // exec keeps the pid, so the process we look for is the one the runner started.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCommand(sh,
                            script(prelude + QStringLiteral(" echo $$ > '%1'; exec sleep 30").arg(pidFile)),
                            1.0),
                 QString());
        // The limit, plus at most two kill graces of 500 ms, plus slack for a busy machine.
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 4000,
                 qPrintable(QString::number(clock.elapsed())));

        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 pid = file.readAll().trimmed().toLongLong();
        QVERIFY(pid > 1 && pid != ::getpid());
        // Neither running nor a zombie: gone from /proc altogether.
        QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), "child still exists");
        QCOMPARE(zombieChildren(), 0);
    }

    void concurrentRuns()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(8);
        QList<QFuture<QString>> futures;
        for (int i = 0; i < 8; ++i) {
            futures << QtConcurrent::run(&pool, [i] {
                return runCommand(sh, script(QStringLiteral("sleep 0.2; echo run%1").arg(i)), 20.0);
            });
        }
        for (int i = 0; i < 8; ++i)
            QCOMPARE(futures[i].result(), QStringLiteral("run%1").arg(i));
        QCOMPARE(zombieChildren(), 0);
    }

    void firstExecutable()
    {
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("plain"));
        const QString tool = dir.filePath(QStringLiteral("tool"));
        const QString folder = dir.filePath(QStringLiteral("folder"));
        for (const QString& path : {plain, tool}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\n");
        }
        QVERIFY(QFile::setPermissions(plain, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkdir(folder));
        const QString missing = dir.filePath(QStringLiteral("missing"));
        QCOMPARE(ToolPaths::firstExecutable({missing, folder, plain, tool, sh}), tool);
        QCOMPARE(ToolPaths::firstExecutable({missing, folder, plain}), QString());
        QCOMPARE(runCommand(plain, {}, 5.0), QString());
    }
};

QTEST_GUILESS_MAIN(TstCommandRunner)
#include "tst_commandrunner.moc"
