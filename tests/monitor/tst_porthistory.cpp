#include "monitor/PortHistory.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;

class PortHistoryTest : public QObject
{
    Q_OBJECT

    static constexpr double day = 86400.0;
    QTemporaryDir m_dir;
    double m_now = 800000000.0;

    static PortEntry entry(qint64 port, const QString& name)
    {
        PortEntry e;
        e.port = port;
        e.processName = name;
        return e;
    }
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A history of its own file, which holds `content` (none when empty) before the load.
    std::unique_ptr<PortHistory> loaded(const QByteArray& content = {})
    {
        const QString dir =
            QStringLiteral("%1-%2/h.json").arg(QTest::currentTestFunction(), QTest::currentDataTag());
        auto history = std::make_unique<PortHistory>(m_dir.filePath(dir), [this] { return m_now; });
        if (QFile file(history->fileURL()); !content.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(content);
        history->load(15);
        return history;
    }

private Q_SLOTS:
    void loadKeepsRetainedEntriesInactive()
    {
        auto history = loaded(PortHistory::encode({
            {3000, "node", m_now - 20 * day, m_now - 15 * day + 60, true},
            {3001, "ruby", m_now - 20 * day, m_now - 16 * day, false},
            {3002, "old", m_now - 3 * day, m_now - 2 * day, true},
            {3002, "new", m_now - 3 * day, m_now - 1 * day, true},
            {3002, "older", m_now - 3 * day, m_now - 2.5 * day, false},
        }));
        QCOMPARE(history->byPort().size(), 2);
        QCOMPARE(history->byPort().value(3000).lastSeen, m_now - 15 * day + 60);
        QVERIFY(!history->byPort().value(3000).isActive);
        QCOMPARE(history->byPort().value(3002),
                 (PortHistoryEntry{3002, "new", m_now - 3 * day, m_now - day, false}));
        QCOMPARE(history->writesStarted(), 0);
    }

    void recordWritesOnlyWhenSomethingStartsOrStops()
    {
        auto history = loaded();
        history->record({entry(3000, "node"), entry(3000, "ruby")});
        m_now += 10;
        history->record({entry(3000, "ruby")});
        QCOMPARE(history->byPort().value(3000), (PortHistoryEntry{3000, "ruby", m_now - 10, m_now, true}));
        QCOMPARE(history->writesStarted(), 1);
        history->record({});
        history->record({});
        QCOMPARE(history->writesStarted(), 2);
        history->record({entry(3000, "ruby")});
        QCOMPARE(history->writesStarted(), 3);
    }

    void fileHoldsTheLastStateAfterABurst()
    {
        auto history = loaded();
        for (int i = 0; i < 200; ++i, m_now += 1) {
            QList<PortEntry> ports;
            for (int p = 0; p <= i % 7; ++p)
                ports.append(entry(3000 + p, QString::number(i)));
            history->record(ports);
        }
        history->waitForWrites();
        PortHistoryMap fromFile;
        for (const PortHistoryEntry& e :
             PortHistory::decode(read(history->fileURL())).value_or(QList<PortHistoryEntry>{}))
            fromFile.insert(e.port, e);
        QCOMPARE(fromFile, history->byPort());
    }

    void unreadableFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not json") << QByteArray("port history?");
        QTest::newRow("object") << QByteArray(R"({"port": 3000})");
        QTest::newRow("missing member") << QByteArray(R"([{"port":3000,"lastProcessName":"n"}])");
        QTest::newRow("huge port") << QByteArray(
            R"([{"port":1e300,"lastProcessName":"n","firstSeen":1,"lastSeen":1,"isActive":true}])");
    }
    void unreadableFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        auto history = loaded(content);
        QVERIFY(history->byPort().isEmpty());
        QCOMPARE(read(history->fileURL()), content); // untouched until the next write
        history->record({entry(3000, "node")});
        history->waitForWrites();
        QCOMPARE(read(history->fileURL() + ".corrupt"), content);
        QVERIFY(PortHistory::decode(read(history->fileURL())));
    }

    void texts_data()
    {
        QTest::addColumn<double>("age");
        QTest::addColumn<QString>("texts"); // last seen[|first seen age]
        QTest::newRow("fraction dropped") << 59.9 << "59s ago|59s";
        QTest::newRow("hour") << 3600.0 << "1h ago|1h 0m";
        QTest::newRow("days") << 187200.0 << "2d ago|2d 4h";
        QTest::newRow("clock set back") << -30.0 << "0s ago";
        QTest::newRow("absurdly old") << 1e300 << "104166666666666d ago|104166666666666d 16h";
    }
    void texts()
    {
        QFETCH(double, age);
        QFETCH(QString, texts);
        auto history = loaded();
        const PortHistoryEntry e{3000, "n", m_now - age, m_now - age, false};
        const QString last = history->lastSeenText(e);
        QCOMPARE(texts.contains(u'|') ? last + u'|' + history->firstSeenAgeText(e) : last, texts);
        QCOMPARE(history->lastSeenText({3000, "n", 0, 0, true}), QStringLiteral("active"));
    }
};

QTEST_GUILESS_MAIN(PortHistoryTest)
#include "tst_porthistory.moc"
