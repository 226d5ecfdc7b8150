#include "monitor/PortFilter.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QTest>

using namespace varlo;
using Ports = QList<qint64>;

class TstPortFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseRanges_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("expected"); // "low-high" per range
        const auto row = [](const char* name, const QString& expression, const QString& expected) {
            QTest::newRow(name) << expression << expected;
        };
        row("list", " \t3000 -\t9999, 8080, abc, 22", "3000-9999 8080-8080 22-22");
        row("bad pieces", "-5,3000-,3000--1,1-2-3,9999-3000,30x0,1e3,3000 4000, \t", "");
        row("signs, empty pieces, no bound", ",,+8080,,+1-+2,70000", "8080-8080 1-2 70000-70000");
        row("newline in a piece", "3000,\n4000,50\n00,6000\n", "3000-3000");
        row("64-bit overflow", "99999999999999999999,1-99999999999999999999", "");
        row("64-bit limit", "9223372036854775807", "9223372036854775807-9223372036854775807");
        row("empty", "", "");
    }
    void parseRanges()
    {
        QFETCH(QString, expression);
        QFETCH(QString, expected);
        QStringList ranges;
        for (const PortFilter::Range& range : PortFilter::parseRanges(expression))
            ranges << QStringLiteral("%1-%2").arg(range.low).arg(range.high);
        QCOMPARE(ranges.join(u' '), expected);
        QCOMPARE(PortFilter::isValidExpression(expression), !expected.isEmpty());
    }

    void apply()
    {
        MemoryDefaultsStore store;
        AppSettings settings(store);
        settings.setMonitoredRange(QStringLiteral("3000-9999, 8080, 22"));
        settings.setExcludedPorts({5000, 7000});
        const Ports ports{3000, 5000, 5173, 8080, 7000, 2999, 9999, 10000, 22};
        QList<PortEntry> entries(ports.size());
        for (qsizetype i = 0; i < ports.size(); ++i)
            entries[i].port = ports[i];
        Ports kept;
        for (const PortEntry& entry : PortFilter().apply(entries, settings)) {
            QVERIFY(entries.contains(entry)); // the very entries, not copies with new ids
            kept << entry.port;
        }
        QCOMPARE(kept, (Ports{3000, 5173, 8080, 9999, 22})); // in range, not excluded, never twice
        settings.setMonitoredRange(QString());
        QVERIFY(PortFilter().apply(entries, settings).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstPortFilter)
#include "tst_portfilter.moc"
