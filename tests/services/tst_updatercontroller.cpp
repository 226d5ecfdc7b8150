#include "TestSupport.h"
#include "services/UpdaterController.h"

#include <QTest>
#include <QTimeZone>

using namespace varlo;
using namespace std::chrono_literals;

const QString automaticKey = QString::fromLatin1(UpdaterController::automaticChecksKey);
const QString lastDateKey = QString::fromLatin1(UpdaterController::lastCheckDateKey);
constexpr double startSeconds = 736257600.0; // 2024-05-01 12:00 UTC, counted from 2001-01-01

class TstUpdaterController : public QObject
{
    Q_OBJECT

    int m_calls = 0;
    QDateTime m_now;

    std::unique_ptr<UpdaterController> controller(DefaultsStore& store)
    {
        UpdaterController::Config config;
        config.enabled = true;
        config.checker.feedUrl = QUrl(QStringLiteral("https://updates.example/appcast.xml"));
        auto check = [this]() -> QCoro::Task<UpdateCheckResult> {
            ++m_calls;
            co_return UpdateCheckResult{};
        };
        return std::make_unique<UpdaterController>(store, config, check, [this] { return m_now; });
    }

private Q_SLOTS:
    void init()
    {
        m_calls = 0;
        m_now = QDateTime(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc());
    }

    void checksAtMostOnceADay()
    {
        MemoryDefaultsStore store(QJsonObject{{automaticKey, true}});
        const auto updater = controller(store);
        QVERIFY(test::waitUntil([&] { return m_calls == 1 && !updater->isChecking(); }, 2s));
        QCOMPARE(store.value(lastDateKey).toDouble(), startSeconds);
        m_now = m_now.addSecs(24 * 3600 - 60);
        QVERIFY(!updater->checkIfDue());
        m_now = m_now.addSecs(60);
        QVERIFY(updater->checkIfDue());
        QVERIFY(test::waitUntil([&] { return !updater->isChecking(); }, 2s));
        QCOMPARE(m_calls, 2);
        // A clock set back a week must not make the next check wait a week, nor run one now.
        m_now = m_now.addDays(-7);
        QVERIFY(!updater->checkIfDue());
        m_now = m_now.addSecs(24 * 3600);
        QVERIFY(updater->checkIfDue());
    }

    void storedDate_data()
    {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<bool>("due");
        QTest::newRow("an hour ago") << QJsonValue(startSeconds - 3600) << false;
        QTest::newRow("absurdly far ahead") << QJsonValue(1e300) << true;
        QTest::newRow("text") << QJsonValue(QStringLiteral("yesterday")) << true;
    }
    void storedDate()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(bool, due);
        MemoryDefaultsStore store(QJsonObject{{automaticKey, true}, {lastDateKey, stored}});
        const auto updater = controller(store);
        QTest::qWait(50);
        QCOMPARE(m_calls, due ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TstUpdaterController)
#include "tst_updatercontroller.moc"
