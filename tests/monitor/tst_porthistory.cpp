#include "monitor/PortHistory.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace varlo;

namespace {

// Root reads any file. Without that power here (and in the threads started
// later), a file of mode 0200 is unreadable to this test as to any user.
void dropReadOverride()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    syscall(SYS_capset, &header, data);
}

} // namespace

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
    // Enough of a file to know it again: its size and its first KiB.
    static QByteArray fingerprint(const QString& path)
    {
        QFile file(path);
        return QByteArray::number(file.size()) + ':' +
               (file.open(QIODevice::ReadOnly) ? file.read(1024) : "");
    }
    // A history of its own file, which holds `content` (none when empty) before the load.
    std::unique_ptr<PortHistory> history(const QByteArray& content = {})
    {
        const QString dir =
            QStringLiteral("%1-%2/h.json").arg(QTest::currentTestFunction(), QTest::currentDataTag());
        auto history = std::make_unique<PortHistory>(m_dir.filePath(dir), [this] { return m_now; });
        if (QFile file(history->fileURL()); !content.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(content);
        return history;
    }
    std::unique_ptr<PortHistory> loaded(const QByteArray& content = {})
    {
        auto loaded = history(content);
        loaded->load(15);
        loaded->waitForLoad();
        return loaded;
    }

private Q_SLOTS:
    void initTestCase() { dropReadOverride(); }

    void loadKeepsRetainedEntriesInactive()
    {
        auto history = loaded(PortHistory::encode({
            {3000, "node", m_now - 20 * day, m_now - 15 * day + 60, true},
            {3003, "edge", m_now - 20 * day, m_now - 15 * day, false},
            {3001, "ruby", m_now - 20 * day, m_now - 16 * day, false},
            {3002, "old", m_now - 3 * day, m_now - 2 * day, true},
            {3002, "new", m_now - 3 * day, m_now - 1 * day, true},
            {3002, "older", m_now - 3 * day, m_now - 2.5 * day, false},
        }));
        QCOMPARE(history->byPort().size(), 3);
        QCOMPARE(history->byPort().value(3000).lastSeen, m_now - 15 * day + 60);
        QVERIFY(history->byPort().contains(3003)); // seen exactly at the cutoff
        QVERIFY(!history->byPort().value(3000).isActive);
        QCOMPARE(history->byPort().value(3002),
                 (PortHistoryEntry{3002, "new", m_now - 3 * day, m_now - day, false}));
        QCOMPARE(history->writesStarted(), 0);
    }

    // The stored form is shared with every earlier version: members, epoch and number forms.
    void goldenFile()
    {
        auto history =
            loaded(R"([{"lastSeen":799999000,"isActive":true,"port":3000,"firstSeen":786000000.25,)"
                   R"("lastProcessName":"node"},{"port":8080,"lastProcessName":"my dev srv",)"
                   R"("firstSeen":7e8,"lastSeen":799990000.5,"isActive":false}])");
        QCOMPARE(history->byPort().value(3000),
                 (PortHistoryEntry{3000, "node", 786000000.25, 799999000, false}));
        QCOMPARE(history->byPort().value(8080),
                 (PortHistoryEntry{8080, "my dev srv", 700000000, 799990000.5, false}));
        history->record({entry(5173, "vite"), entry(3000, "node")});
        history->waitForWrites();
        QCOMPARE(
            read(history->fileURL()),
            R"([{"firstSeen":786000000.25,"isActive":true,"lastProcessName":"node","lastSeen":800000000,)"
            R"("port":3000},{"firstSeen":800000000,"isActive":true,"lastProcessName":"vite","lastSeen":)"
            R"(800000000,"port":5173},{"firstSeen":700000000,"isActive":false,"lastProcessName":)"
            R"("my dev srv","lastSeen":799990000.5,"port":8080}])");
    }

    void referenceTimeCountsFrom2001()
    {
        const double unixNow = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        QVERIFY(qAbs(currentReferenceTime() - (unixNow - 978307200.0)) < 5.0);
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
        history->clear();
        history->waitForWrites();
        QVERIFY(history->byPort().isEmpty());
        QCOMPARE(read(history->fileURL()), "[]");
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

    // The file is read in the background; what happens meanwhile is not lost.
    void recordAndClearDuringALoad()
    {
        const QByteArray stored = PortHistory::encode({{3000, "node", m_now - day, m_now - 60, false}});
        auto history = this->history(stored);
        history->load(15);
        QVERIFY(history->isLoading() && history->byPort().isEmpty());
        history->record({entry(3000, "node")});
        history->record({entry(3000, "ruby")});
        history->waitForLoad();
        QCOMPARE(history->byPort().value(3000), (PortHistoryEntry{3000, "ruby", m_now - day, m_now, true}));
        QCOMPARE(history->writesStarted(), 1);

        auto cleared = this->history(stored);
        cleared->load(15);
        cleared->record({entry(3000, "node")});
        cleared->clear();
        cleared->waitForLoad();
        cleared->waitForWrites();
        QVERIFY(cleared->byPort().isEmpty());
        QCOMPARE(read(cleared->fileURL()), "[]");
    }

    void unreadableFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<huge>": 100 MB that would decode (an empty array)
        QTest::addColumn<int>("permissions");
        const int readWrite = int(QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray valid =
            R"([{"port":3000,"lastProcessName":"n","firstSeen":1,"lastSeen":1,"isActive":true}])";
        QTest::newRow("not json") << QByteArray("port history?") << readWrite;
        QTest::newRow("object") << QByteArray(R"({"port": 3000})") << readWrite;
        QTest::newRow("missing member")
            << QByteArray(R"([{"port":3000,"lastProcessName":"n"}])") << readWrite;
        QTest::newRow("huge port") << QByteArray(valid).replace("3000", "1e300") << readWrite;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe[", 4) << readWrite;
        QTest::newRow("write-only") << valid << int(QFile::WriteOwner);
        QTest::newRow("100 MB") << QByteArray("<huge>") << readWrite;
    }
    void unreadableFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, permissions);
        auto history = this->history(content == "<huge>" ? "[" : content);
        if (content == "<huge>") {
            QFile file(history->fileURL());
            QVERIFY(file.open(QIODevice::Append));
            const QByteArray spaces(1024 * 1024, ' ');
            for (int i = 0; i < 100; ++i)
                QCOMPARE(file.write(spaces), spaces.size());
            QCOMPARE(file.write("]"), 1);
        }
        const QByteArray stored = fingerprint(history->fileURL());
        QVERIFY(QFile::setPermissions(history->fileURL(), QFile::Permissions(permissions)));
        history->load(15);
        history->waitForLoad();
        QVERIFY(history->byPort().isEmpty());
        QVERIFY(QFile::setPermissions(history->fileURL(), QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(fingerprint(history->fileURL()), stored); // untouched until the next write
        history->record({entry(3000, "node")});
        history->waitForWrites();
        QCOMPARE(fingerprint(history->fileURL() + ".corrupt"), stored);
        QVERIFY(PortHistory::decode(read(history->fileURL())));
    }

    void texts_data()
    {
        QTest::addColumn<double>("age");
        QTest::addColumn<QString>("texts"); // last seen[|first seen age]
        QTest::newRow("fraction dropped") << 59.9 << "59s ago|59s";
        QTest::newRow("minute") << 60.0 << "1m ago|1m 0s";
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
