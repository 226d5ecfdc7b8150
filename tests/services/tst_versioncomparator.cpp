#include "services/VersionComparator.h"

#include <QTest>

using namespace varlo;

class TstVersionComparator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, const QString& a, const QString& b, int expected) {
            QTest::newRow(name) << a << b << expected;
        };
        row("numeric, not textual", "1.9", "1.10", -1);
        row("beta before release", "1.0b1", "1.0", -1);
        row("string loses to separator", "1.0b", "1.0.1", -1);
        row("separator loses to number", "1..2", "1.12", -1);
        row("beyond 64 bits", "99999999999999999999999999", "100000000000000000000000000", -1);
        row("leading zeros", "1.01", "1.1", 0);
        row("non-ASCII digits", "\u0661.\u0662", "1.2", 0);
        row("huge number", QString(200'000, QLatin1Char('9')), QString(200'000, QLatin1Char('9')), 0);
    }
    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(VersionComparator::compare(a, b), expected);
        QCOMPARE(VersionComparator::compare(b, a), -expected);
    }
};

QTEST_GUILESS_MAIN(TstVersionComparator)
#include "tst_versioncomparator.moc"
