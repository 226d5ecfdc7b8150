#include "TestSupport.h"
#include "services/UpdaterController.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <qcoro/qcorotimer.h>

using namespace varlo;
using namespace std::chrono_literals;

namespace {

struct FakeCheck
{
    int calls = 0;
    std::chrono::milliseconds delay{0};
    UpdateCheckResult result;
};

QCoro::Task<UpdateCheckResult> runFake(FakeCheck* fake)
{
    ++fake->calls;
    co_await QCoro::sleepFor(fake->delay);
    co_return fake->result;
}

UpdaterController::Config enabledConfig()
{
    UpdaterController::Config config;
    config.enabled = true;
    config.checker.feedUrl = QUrl(QStringLiteral("https://updates.example/appcast.xml"));
    config.checker.currentVersion = QStringLiteral("0.1.0");
    return config;
}

UpdateCheckResult available()
{
    UpdateCheckResult result;
    result.outcome = UpdateCheckResult::Outcome::UpdateAvailable;
    result.version = result.displayVersion = QStringLiteral("0.2.0");
    return result;
}

const QString automaticKey = QString::fromLatin1(UpdaterController::automaticChecksKey);
const QString lastDateKey = QString::fromLatin1(UpdaterController::lastCheckDateKey);

} // namespace

class TstUpdaterController : public QObject
{
    Q_OBJECT

    FakeCheck m_fake;
    QDateTime m_now;

    std::unique_ptr<UpdaterController> make(DefaultsStore& store,
                                            UpdaterController::Config config = enabledConfig())
    {
        return std::make_unique<UpdaterController>(
            store, config, [this] { return runFake(&m_fake); }, [this] { return m_now; });
    }

private Q_SLOTS:
    void init()
    {
        m_fake = FakeCheck{};
        m_now = QDateTime(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc());
    }

    void checksAtMostOnceADay()
    {
        MemoryDefaultsStore store(QJsonObject{{automaticKey, true}});
        const auto updater = make(store);
        QVERIFY(test::waitUntil([&] { return m_fake.calls == 1 && !updater->isChecking(); }, 2s));
        QCOMPARE(updater->lastUpdateCheckDate(), m_now);
        // 2024-05-01 12:00 UTC in seconds since 2001-01-01.
        QCOMPARE(store.value(lastDateKey).toDouble(), 736257600.0);

        m_now = m_now.addSecs(24 * 3600 - 60);
        QVERIFY(!updater->checkIfDue());
        m_now = m_now.addSecs(60);
        QVERIFY(updater->checkIfDue());
        QVERIFY(test::waitUntil([&] { return !updater->isChecking(); }, 2s));
        QCOMPARE(m_fake.calls, 2);

        // A clock set back a week must not make the next check wait a week, nor run one now.
        m_now = m_now.addDays(-7);
        QVERIFY(!updater->checkIfDue());
        QCOMPARE(updater->lastUpdateCheckDate(), m_now);
        m_now = m_now.addSecs(24 * 3600);
        QVERIFY(updater->checkIfDue());
    }

    void storedDate_data()
    {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<bool>("due");
        QTest::newRow("an hour ago") << QJsonValue(736257600.0 - 3600) << false;
        QTest::newRow("two days ago") << QJsonValue(736257600.0 - 2 * 86400) << true;
        QTest::newRow("absurdly far ahead") << QJsonValue(1e300) << true;
        QTest::newRow("text") << QJsonValue(QStringLiteral("yesterday")) << true;
    }

    void storedDate()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(bool, due);
        MemoryDefaultsStore store(QJsonObject{{automaticKey, true}, {lastDateKey, stored}});
        const auto updater = make(store);
        QTest::qWait(50);
        QCOMPARE(m_fake.calls, due ? 1 : 0);
    }

    void switchIsStoredAndHonoured()
    {
        MemoryDefaultsStore store;
        const auto updater = make(store);
        QVERIFY(!updater->automaticallyChecksForUpdates());
        QSignalSpy changed(updater.get(), &UpdaterController::automaticallyChecksForUpdatesChanged);

        // An explicit "no" is written even though it is also the default.
        updater->setAutomaticallyChecksForUpdates(false);
        QCOMPARE(store.values().value(automaticKey), QJsonValue(false));
        QCOMPARE(changed.count(), 0);
        QTest::qWait(50);
        QVERIFY(!updater->checkIfDue());
        QCOMPARE(m_fake.calls, 0);

        // Switching on checks right away when no check ever ran; an automatic find is announced.
        m_fake.result = available();
        QSignalSpy found(updater.get(), &UpdaterController::updateFound);
        updater->setAutomaticallyChecksForUpdates(true);
        QCOMPARE(changed.count(), 1);
        QVERIFY(test::waitUntil([&] { return found.count() == 1; }, 2s));
        QCOMPARE(m_fake.calls, 1);
        QCOMPARE(found.at(0).at(0).value<UpdateCheckResult>().version, QStringLiteral("0.2.0"));
    }

    void manualCheckJoinsARunningOne()
    {
        MemoryDefaultsStore store(QJsonObject{{automaticKey, true}});
        m_fake.delay = 100ms;
        m_fake.result = available();
        const auto updater = make(store);
        QSignalSpy found(updater.get(), &UpdaterController::updateFound);
        QVERIFY(test::waitUntil([&] { return updater->isChecking(); }, 2s));

        const auto result = test::awaitTask(updater->checkForUpdates(), 5s);
        QVERIFY(result);
        QCOMPARE(result->outcome, UpdateCheckResult::Outcome::UpdateAvailable);
        QCOMPARE(m_fake.calls, 1);
        QTest::qWait(20);
        QCOMPARE(found.count(), 0); // the user already sees this result

        // A manual check needs no automatic switch and moves the daily schedule.
        updater->setAutomaticallyChecksForUpdates(false);
        m_now = m_now.addDays(3);
        QVERIFY(test::awaitTask(updater->checkForUpdates(), 5s));
        QCOMPARE(m_fake.calls, 2);
        QCOMPARE(updater->lastUpdateCheckDate(), m_now);
    }

    void unavailableNeverChecks_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("feed");
        QTest::newRow("turned off in the build") << false << "https://updates.example/appcast.xml";
        QTest::newRow("no feed") << true << "";
        QTest::newRow("plain http to another host") << true << "http://updates.example/appcast.xml";
    }

    void unavailableNeverChecks()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, feed);
        UpdaterController::Config config = enabledConfig();
        config.enabled = enabled;
        config.checker.feedUrl = QUrl(feed);
        MemoryDefaultsStore store(QJsonObject{{automaticKey, true}});
        const auto updater = make(store, config);

        QVERIFY(!updater->isAvailable());
        QVERIFY(!updater->automaticallyChecksForUpdates());
        QVERIFY(!updater->checkIfDue());
        const auto result = test::awaitTask(updater->checkForUpdates(), 2s);
        QVERIFY(result);
        QCOMPARE(result->outcome, UpdateCheckResult::Outcome::Failed);
        QVERIFY(!result->error.isEmpty());
        QTest::qWait(20);
        QCOMPARE(m_fake.calls, 0);
        QVERIFY(!store.contains(lastDateKey));
    }
};

QTEST_GUILESS_MAIN(TstUpdaterController)
#include "tst_updatercontroller.moc"
