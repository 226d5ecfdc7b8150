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
        QTest::newRow("list") << "3000-9999, 8080, 22"
                              << "3000-9999 8080-8080 22-22";
        QTest::newRow("spaces and tabs") << " \t3000 -\t4000 "
                                         << "3000-4000";
        QTest::newRow("reversed") << "9999-3000"
                                  << "";
        QTest::newRow("bad pieces") << "-5,3000-,3000--1,1-2-3,abc,30x0,3000-abc,1e3,3000 4000, \t"
                                    << "";
        QTest::newRow("signs") << "+8080,+1-+2"
                               << "8080-8080 1-2";
        QTest::newRow("empty pieces") << ",,8080,,"
                                      << "8080-8080";
        QTest::newRow("bad piece ignored") << "3000-9999, abc"
                                           << "3000-9999";
        QTest::newRow("newline in a piece") << "3000,\n4000,50\n00,6000\n"
                                            << "3000-3000";
        QTest::newRow("64-bit overflow") << "99999999999999999999,1-99999999999999999999"
                                         << "";
        QTest::newRow("64-bit limit") << "9223372036854775807"
                                      << "9223372036854775807-9223372036854775807";
        QTest::newRow("no bound test") << "0,70000,80,80"
                                       << "0-0 70000-70000 80-80 80-80";
        QTest::newRow("empty") << ""
                               << "";
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

    void apply_data()
    {
        QTest::addColumn<QString>("range");
        QTest::addColumn<Ports>("excluded");
        QTest::addColumn<Ports>("ports");
        QTest::addColumn<Ports>("expected");
        QTest::newRow("defaults") << "3000-9999" << Ports{5000, 7000}
                                  << Ports{3000, 5000, 5173, 7000, 2999, 9999, 10000, 22}
                                  << Ports{3000, 5173, 9999};
        QTest::newRow("overlap never duplicates")
            << "3000-9999, 8080, 22" << Ports{} << Ports{8080, 22, 4000} << Ports{8080, 22, 4000};
        QTest::newRow("exclusion wins") << "8080" << Ports{8080} << Ports{8080} << Ports{};
        QTest::newRow("empty expression") << "" << Ports{} << Ports{3000, 0} << Ports{};
    }
    void apply()
    {
        QFETCH(QString, range);
        QFETCH(Ports, excluded);
        QFETCH(Ports, ports);
        QFETCH(Ports, expected);
        MemoryDefaultsStore store;
        AppSettings settings(store);
        settings.setMonitoredRange(range);
        settings.setExcludedPorts(excluded);
        QList<PortEntry> entries(ports.size());
        for (qsizetype i = 0; i < ports.size(); ++i)
            entries[i].port = ports[i];
        Ports kept;
        for (const PortEntry& entry : PortFilter().apply(entries, settings)) {
            QVERIFY(entries.contains(entry)); // the very entries, not copies with new ids
            kept << entry.port;
        }
        QCOMPARE(kept, expected);
    }
};

QTEST_GUILESS_MAIN(TstPortFilter)
#include "tst_portfilter.moc"
