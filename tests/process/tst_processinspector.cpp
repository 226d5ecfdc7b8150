#include "TestSupport.h"
#include "process/ProcessInspector.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QTest>
#include <QThread>
#include <atomic>

using namespace varlo;
using varlo::test::awaitTask;

class TstProcessInspector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A comma-decimal user locale must not change how ps output is read.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void parseDetail_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("cpu");
        QTest::addColumn<qint64>("memory");
        QTest::addColumn<qint64>("uptime");
        QTest::addColumn<QString>("command");

        QTest::newRow("typical") << "0.0 1024 05 /usr/local/bin/node server.js" << true << 0.0
                                 << qint64(1048576) << qint64(5) << "/usr/local/bin/node server.js";
        QTest::newRow("runs of spaces") << "  12.5   2048  1-02:03:04   /bin/sh  -c   'a  b'" << true << 12.5
                                        << qint64(2097152) << qint64(93784) << "/bin/sh -c 'a b'";
        QTest::newRow("three fields") << "3.1 10 03:04" << true << 3.1 << qint64(10240) << qint64(184) << "";
        QTest::newRow("comma decimal")
            << "12,5 1024 05 /bin/x" << false << 0.0 << qint64(0) << qint64(0) << "";
        QTest::newRow("cpu n/a") << "n/a 1024 05 /bin/x" << false << 0.0 << qint64(0) << qint64(0) << "";
        QTest::newRow("cpu with tab")
            << "1.0\t 1024 05 /bin/x" << false << 0.0 << qint64(0) << qint64(0) << "";
        QTest::newRow("empty") << "" << false << 0.0 << qint64(0) << qint64(0) << "";
        QTest::newRow("two fields") << "1.0 1024" << false << 0.0 << qint64(0) << qint64(0) << "";
        QTest::newRow("rss not a number")
            << "1.0 1k 05 /bin/x" << false << 0.0 << qint64(0) << qint64(0) << "";
        QTest::newRow("rss overflows in bytes")
            << "1.0 9223372036854775807 05 /bin/x" << false << 0.0 << qint64(0) << qint64(0) << "";
    }

    void parseDetail()
    {
        QFETCH(QString, output);
        QFETCH(bool, present);

        const std::optional<ProcessDetail> detail = ProcessInspector::parseDetail(output);
        QCOMPARE(detail.has_value(), present);
        if (!present)
            return;
        QTEST(detail->cpuPercent, "cpu");
        QTEST(detail->memoryBytes, "memory");
        QTEST(detail->uptimeSeconds, "uptime");
        QTEST(detail->fullCommand, "command");
    }

    void elapsedSeconds_data()
    {
        QTest::addColumn<QString>("etime");
        QTest::addColumn<qint64>("seconds");

        QTest::newRow("days") << "1-02:03:04" << qint64(93784);
        QTest::newRow("hours") << "02:03:04" << qint64(7384);
        QTest::newRow("minutes") << "03:04" << qint64(184);
        QTest::newRow("seconds") << "05" << qint64(5);
        QTest::newRow("garbage") << "abc" << qint64(0);
        QTest::newRow("bad day count") << "x-10:00" << qint64(600);
        QTest::newRow("days only") << "2-" << qint64(172800);
        QTest::newRow("empty piece dropped") << ":07" << qint64(7);
        QTest::newRow("four pieces") << "1:02:03:04" << qint64(0);
        QTest::newRow("overflow") << "9223372036854775807-00:00" << qint64(0);
    }

    void elapsedSeconds()
    {
        QFETCH(QString, etime);
        QTEST(ProcessInspector::elapsedSeconds(etime), "seconds");
    }

    void argumentsSummary_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("summary");

        QTest::newRow("no command") << ""
                                    << "/Users/dev"
                                    << "";
        QTest::newRow("one word") << "/usr/bin/top"
                                  << "/Users/dev"
                                  << "";
        QTest::newRow("home") << "/usr/local/bin/node /Users/dev/app/server.js"
                              << "/Users/dev"
                              << "~/app/server.js";
        QTest::newRow("every occurrence") << "cp /h/me/a /h/me/b"
                                          << "/h/me"
                                          << "~/a ~/b";
        QTest::newRow("longer name") << "node /Users/developer/x /Users/dev"
                                     << "/Users/dev"
                                     << "/Users/developer/x ~";
        QTest::newRow("home with slash") << "node /h/me/x"
                                         << "/h/me/"
                                         << "~/x";
        QTest::newRow("root home") << "node /srv/x"
                                   << "/"
                                   << "/srv/x";
        QTest::newRow("no home") << "node a b"
                                 << ""
                                 << "a b";
    }

    void argumentsSummary()
    {
        QFETCH(QString, command);
        QFETCH(QString, home);

        ProcessDetail detail;
        detail.fullCommand = command;
        QTEST(detail.argumentsSummary(home), "summary");
    }

    void uptimeText_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");

        QTest::newRow("negative") << qint64(-5) << "-5s";
        QTest::newRow("59") << qint64(59) << "59s";
        QTest::newRow("60") << qint64(60) << "1m 0s";
        QTest::newRow("3599") << qint64(3599) << "59m 59s";
        QTest::newRow("3600") << qint64(3600) << "1h 0m";
        QTest::newRow("86399") << qint64(86399) << "23h 59m";
        QTest::newRow("86400") << qint64(86400) << "1d 0h";
    }

    void uptimeText()
    {
        QFETCH(qint64, seconds);
        QTEST(ProcessInspector::uptimeText(seconds), "text");
    }

    void detailRunsPsOffTheMainThread()
    {
        QString executable;
        QStringList arguments;
        double timeout = 0;
        std::atomic<bool> onMainThread{true};
        std::atomic<int> runs{0};
        const auto runner = [&](const QString& exe, const QStringList& args, double limit) {
            executable = exe;
            arguments = args;
            timeout = limit;
            onMainThread = QThread::currentThread() == qApp->thread();
            ++runs;
            return QStringLiteral("7.5 100 01:00 /opt/ps-fake --flag");
        };
        ToolPaths tools;
        tools.ps = QStringLiteral("/opt/fake/ps");
        const ProcessInspector inspector(tools, runner);

        const auto detail = awaitTask(inspector.detail(4242), std::chrono::seconds(10));
        QVERIFY(detail.has_value() && detail->has_value());
        QCOMPARE((*detail)->uptimeSeconds, qint64(60));
        QCOMPARE(executable, tools.ps);
        QCOMPARE(arguments, (QStringList{"-p", "4242", "-o", "%cpu=,rss=,etime=,command="}));
        QCOMPARE(timeout, 8.0);
        QVERIFY(!onMainThread);

        // Non-positive ids would reach ps as options; they never run it.
        for (qint64 pid : {qint64(0), qint64(-1)}) {
            const auto none = awaitTask(inspector.detail(pid), std::chrono::seconds(10));
            QVERIFY(none.has_value() && !none->has_value());
        }
        QCOMPARE(runs.load(), 1);
    }

    void detailOfThisProcess()
    {
        if (ToolPaths::system().ps.isEmpty())
            QSKIP("ps is not installed");
        const ProcessInspector inspector;
        const auto detail =
            awaitTask(inspector.detail(QCoreApplication::applicationPid()), std::chrono::seconds(20));
        QVERIFY(detail.has_value());
        QVERIFY2(detail->has_value(), "ps gave no parseable line for this process");
        const ProcessDetail& self = **detail;
        QVERIFY2(self.memoryBytes > 1024 * 1024 && self.memoryBytes < qint64(64) * 1024 * 1024 * 1024,
                 qPrintable(QString::number(self.memoryBytes)));
        QVERIFY(self.cpuPercent >= 0);
        QVERIFY(self.uptimeSeconds >= 0 && self.uptimeSeconds < 3600);
        QVERIFY2(self.fullCommand.contains(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
                 qPrintable(self.fullCommand));
    }
};

QTEST_GUILESS_MAIN(TstProcessInspector)
#include "tst_processinspector.moc"
