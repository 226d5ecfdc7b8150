#include "monitor/PortHistory.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

namespace {

constexpr double day = 86400.0;

PortEntry entry(qint64 port, const QString& name)
{
    PortEntry e;
    e.port = port;
    e.pid = 1000 + port;
    e.processName = name;
    return e;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class PortHistoryTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    double m_now = 800000000.0;

    QString path() const { return m_dir.filePath(QStringLiteral("Varlo/port-history.json")); }
    std::unique_ptr<PortHistory> makeHistory()
    {
        return std::make_unique<PortHistory>(path(), [this] { return m_now; });
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(path());
        QFile::remove(path() + QStringLiteral(".corrupt"));
    }

    void loadKeepsEntriesWithinRetentionAllInactive()
    {
        const QList<PortHistoryEntry> stored{
            {3000, QStringLiteral("node"), m_now - 20 * day, m_now - 15 * day + 60, true},
            {3001, QStringLiteral("ruby"), m_now - 20 * day, m_now - 16 * day, false},
            {3002, QStringLiteral("old"), m_now - 3 * day, m_now - 2 * day, true},
            {3002, QStringLiteral("new"), m_now - 3 * day, m_now - 1 * day, false},
            {3002, QStringLiteral("older"), m_now - 3 * day, m_now - 2.5 * day, false},
        };
        QDir().mkpath(QFileInfo(path()).absolutePath());
        writeFile(path(), PortHistory::encode(stored));

        auto history = makeHistory();
        history->load(15);
        const PortHistoryMap byPort = history->byPort();
        QCOMPARE(byPort.keys().size(), 2);
        QVERIFY(byPort.contains(3000));
        QVERIFY(!byPort.contains(3001));
        QCOMPARE(byPort.value(3002).lastProcessName, QStringLiteral("new")); // the later sighting
        for (const PortHistoryEntry& e : byPort)
            QVERIFY(!e.isActive);
        QCOMPARE(history->writesStarted(), 0);
    }

    void recordWritesOnlyWhenSomethingStartsOrStops()
    {
        auto history = makeHistory();
        history->record({entry(3000, QStringLiteral("node")), entry(3000, QStringLiteral("ruby"))});
        QCOMPARE(history->byPort().value(3000).lastProcessName, QStringLiteral("ruby"));
        QCOMPARE(history->writesStarted(), 1);

        const double firstSeen = history->byPort().value(3000).firstSeen;
        m_now += 10;
        history->record({entry(3000, QStringLiteral("ruby"))});
        QCOMPARE(history->writesStarted(), 1);
        QCOMPARE(history->byPort().value(3000).lastSeen, m_now);

        history->record({});
        QCOMPARE(history->writesStarted(), 2);
        QVERIFY(!history->byPort().value(3000).isActive);
        history->record({});
        QCOMPARE(history->writesStarted(), 2);

        m_now += 10;
        history->record({entry(3000, QStringLiteral("ruby"))});
        QCOMPARE(history->writesStarted(), 3);
        QCOMPARE(history->byPort().value(3000).firstSeen, firstSeen);
    }

    void fileHoldsTheLastStateAfterABurstOfWrites()
    {
        auto history = makeHistory();
        for (int i = 0; i < 200; ++i) {
            QList<PortEntry> ports;
            for (int p = 0; p <= i % 7; ++p)
                ports.append(entry(3000 + p, QStringLiteral("p%1").arg(i)));
            history->record(ports);
            m_now += 1;
        }
        history->waitForWrites();
        const auto onDisk = PortHistory::decode(readFile(path()));
        QVERIFY(onDisk);
        PortHistoryMap fromFile;
        for (const PortHistoryEntry& e : *onDisk)
            fromFile.insert(e.port, e);
        QCOMPARE(fromFile, history->byPort());

        auto reloaded = makeHistory();
        reloaded->load(15);
        QCOMPARE(reloaded->byPort().size(), history->byPort().size());
    }

    void clearWritesAnEmptyArray()
    {
        auto history = makeHistory();
        history->record({entry(3000, QStringLiteral("node"))});
        history->clear();
        history->waitForWrites();
        QVERIFY(history->byPort().isEmpty());
        QCOMPARE(readFile(path()), QByteArray("[]"));
    }

    void unreadableFileIsKeptAsideBeforeBeingReplaced_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not json") << QByteArray("port history?");
        QTest::newRow("object") << QByteArray(R"({"port": 3000})");
        QTest::newRow("missing member")
            << QByteArray(R"([{"port":3000,"lastProcessName":"n","firstSeen":1,"lastSeen":1}])");
        QTest::newRow("wrong type") << QByteArray(
            R"([{"port":"3000","lastProcessName":"n","firstSeen":1,"lastSeen":1,"isActive":true}])");
        QTest::newRow("huge port") << QByteArray(
            R"([{"port":1e300,"lastProcessName":"n","firstSeen":1,"lastSeen":1,"isActive":true}])");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe[", 4);
    }
    void unreadableFileIsKeptAsideBeforeBeingReplaced()
    {
        QFETCH(QByteArray, content);
        QDir().mkpath(QFileInfo(path()).absolutePath());
        writeFile(path(), content);

        auto history = makeHistory();
        history->load(15);
        QVERIFY(history->byPort().isEmpty());
        QCOMPARE(readFile(path()), content); // untouched until the next write

        history->record({entry(3000, QStringLiteral("node"))});
        history->record({});
        history->waitForWrites();
        QCOMPARE(readFile(path() + QStringLiteral(".corrupt")), content);
        QVERIFY(PortHistory::decode(readFile(path())));
    }

    void absurdTimestampsDoNotBreakTheTexts()
    {
        auto history = makeHistory();
        const PortHistoryEntry future{3000, QStringLiteral("n"), 1e300, 1e300, false};
        QCOMPARE(history->lastSeenText(future), QStringLiteral("0s ago"));
        const PortHistoryEntry ancient{3000, QStringLiteral("n"), -1e300, -1e300, false};
        QVERIFY(history->lastSeenText(ancient).endsWith(QStringLiteral("d ago")));
        QVERIFY(history->firstSeenAgeText(ancient).endsWith(QStringLiteral("h")));
    }

    void texts_data()
    {
        QTest::addColumn<double>("age");
        QTest::addColumn<QString>("lastSeen");
        QTest::addColumn<QString>("firstSeenAge");
        QTest::newRow("59s") << 59.9 << "59s ago"
                             << "59s";
        QTest::newRow("60s") << 60.0 << "1m ago"
                             << "1m 0s";
        QTest::newRow("1h") << 3600.0 << "1h ago"
                            << "1h 0m";
        QTest::newRow("1d") << day << "1d ago"
                            << "1d 0h";
        QTest::newRow("2d4h") << 187200.0 << "2d ago"
                              << "2d 4h";
    }
    void texts()
    {
        QFETCH(double, age);
        QFETCH(QString, lastSeen);
        QFETCH(QString, firstSeenAge);
        auto history = makeHistory();
        const PortHistoryEntry e{3000, QStringLiteral("n"), m_now - age, m_now - age, false};
        QCOMPARE(history->lastSeenText(e), lastSeen);
        QCOMPARE(history->firstSeenAgeText(e), firstSeenAge);
        QCOMPARE(history->lastSeenText({3000, QStringLiteral("n"), 0, 0, true}), QStringLiteral("active"));
    }

    void loadsAHundredThousandEntries()
    {
        QList<PortHistoryEntry> many;
        for (int i = 0; i < 100000; ++i)
            many.append({i, QStringLiteral("process %1").arg(i), m_now - 10, m_now - 5, true});
        QDir().mkpath(QFileInfo(path()).absolutePath());
        writeFile(path(), PortHistory::encode(many));
        auto history = makeHistory();
        QElapsedTimer timer;
        timer.start();
        history->load(15);
        qInfo("loaded 100000 history entries in %lld ms", timer.elapsed());
        QCOMPARE(history->byPort().size(), 100000);
    }
};

QTEST_GUILESS_MAIN(PortHistoryTest)
#include "tst_porthistory.moc"
