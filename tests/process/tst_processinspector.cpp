#include "process/ProcessInspector.h"

#include <QLocale>
#include <QTest>

using namespace varlo;

class TstProcessInspector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseDetail_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("parsed"); // "cpu bytes seconds=uptimeText command", empty when absent
        const auto row = [](const char* name, const char* output, const char* parsed) {
            QTest::newRow(name) << QString(output) << QString(parsed);
        };
        row("typical", "0.0 1024 05 /usr/local/bin/node a.js", "0 1048576 5=5s /usr/local/bin/node a.js");
        row("runs of spaces, days", "  12.5   2048  1-02:03:04   /bin/sh  -c   'a  b'",
            "12.5 2097152 93784=1d 2h /bin/sh -c 'a b'");
        row("three fields", "3.1 10 59", "3.1 10240 59=59s ");
        row("60 s", "1 1 01:00 x", "1 1024 60=1m 0s x");
        row("3599 s", "1 1 59:59 x", "1 1024 3599=59m 59s x");
        row("3600 s", "1 1 01:00:00 x", "1 1024 3600=1h 0m x");
        row("86399 s", "1 1 23:59:59 x", "1 1024 86399=23h 59m x");
        row("86400 s", "1 1 1-00:00:00 x", "1 1024 86400=1d 0h x");
        row("bad day count", "1 1 x-10:00 x", "1 1024 600=10m 0s x");
        row("etime garbage", "1 1 abc x", "1 1024 0=0s x");
        row("etime overflow", "1 1 9223372036854775807-00:00 x", "1 1024 0=0s x");
        row("comma decimal", "12,5 1024 05 /bin/x", "");
        row("cpu n/a", "n/a 1024 05 /bin/x", "");
        row("cpu with tab", "1.0\t 1024 05 /bin/x", "");
        row("empty", "", "");
        row("rss not a number", "1.0 1k 05 /bin/x", "");
        row("rss overflows in bytes", "1.0 9223372036854775807 05 /bin/x", "");
    }

    void parseDetail()
    {
        QFETCH(QString, output);
        // A comma-decimal user locale must not change how ps output is read.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto d = ProcessInspector::parseDetail(output);
        QTEST(d ? QStringLiteral("%1 %2 %3=").arg(d->cpuPercent).arg(d->memoryBytes).arg(d->uptimeSeconds) +
                      ProcessInspector::uptimeText(d->uptimeSeconds) + u' ' + d->fullCommand
                : QString(),
              "parsed");
    }

    void argumentsSummary_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("summary");
        const auto row = [](const char* name, const char* command, const char* home, const char* summary) {
            QTest::newRow(name) << QString(command) << QString(home) << QString(summary);
        };
        row("one word", "/usr/bin/top", "/Users/dev", "");
        row("every occurrence", "cp /h/me/a /h/me/b", "/h/me", "~/a ~/b");
        row("longer name", "node /Users/developer/x /Users/dev", "/Users/dev", "/Users/developer/x ~");
        row("home with slash", "node /h/me/x", "/h/me/", "~/x");
        row("root home", "node /srv/x", "/", "/srv/x");
    }

    void argumentsSummary()
    {
        QFETCH(QString, command);
        QFETCH(QString, home);
        ProcessDetail detail;
        detail.fullCommand = command;
        QTEST(detail.argumentsSummary(home), "summary");
    }
};

QTEST_GUILESS_MAIN(TstProcessInspector)
#include "tst_processinspector.moc"
