#include "services/VersionComparator.h"

#include <QTest>

using namespace varlo;

class TstVersionComparator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compare_data()
    {
        QTest::addColumn<QString>("older");
        QTest::addColumn<QString>("newer");

        QTest::newRow("patch") << "1.0.0"
                               << "1.0.1";
        QTest::newRow("numeric, not textual") << "1.9"
                                              << "1.10";
        QTest::newRow("extra number part") << "1.0"
                                           << "1.0.0";
        QTest::newRow("beta before release") << "1.0b1"
                                             << "1.0";
        QTest::newRow("beta numbers") << "1.0b1"
                                      << "1.0b2";
        QTest::newRow("alpha before beta") << "1.0a5"
                                           << "1.0b1";
        QTest::newRow("beta before next patch") << "1.0"
                                                << "1.0.1b1";
        QTest::newRow("string loses to separator") << "1.0b"
                                                   << "1.0.1";
        QTest::newRow("separator loses to number") << "1..2"
                                                   << "1.12";
        QTest::newRow("dash is a separator") << "1.0-rc1"
                                             << "1.0.0";
        QTest::newRow("empty is oldest") << ""
                                         << "0";
        QTest::newRow("leading zeros") << "1.007"
                                       << "1.8";
        QTest::newRow("beyond 64 bits") << "99999999999999999999999999"
                                        << "100000000000000000000000000";
        QTest::newRow("case sensitive strings") << "1.0B"
                                                << "1.0b";
    }

    void compare()
    {
        QFETCH(QString, older);
        QFETCH(QString, newer);
        QCOMPARE(VersionComparator::compare(older, newer), -1);
        QCOMPARE(VersionComparator::compare(newer, older), 1);
    }

    void equal_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("same") << "2.1.3"
                              << "2.1.3";
        QTest::newRow("leading zeros") << "1.01"
                                       << "1.1";
        QTest::newRow("separator kind does not matter") << "1-2"
                                                        << "1.2";
        QTest::newRow("both empty") << ""
                                    << "";
    }

    void equal()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QCOMPARE(VersionComparator::compare(a, b), 0);
        QCOMPARE(VersionComparator::compare(b, a), 0);
    }

    void hostileInputStaysBounded()
    {
        const QString digits(200'000, QLatin1Char('9'));
        const QString dots(200'000, QLatin1Char('.'));
        const QString mixed = QStringLiteral("1a.").repeated(50'000);
        QCOMPARE(VersionComparator::compare(digits, digits), 0);
        QCOMPARE(VersionComparator::compare(dots, QStringLiteral("1")), -1);
        QCOMPARE(VersionComparator::compare(mixed, mixed + QLatin1Char('1')), -1);
        QCOMPARE(VersionComparator::compare(QStringLiteral("\u0661.\u0662"), QStringLiteral("1.2")), 0);
    }
};

QTEST_GUILESS_MAIN(TstVersionComparator)
#include "tst_versioncomparator.moc"
