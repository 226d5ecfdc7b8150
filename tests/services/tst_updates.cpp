#include "TestHttpServer.h"
#include "TestSupport.h"
#include "services/UpdateChecker.h"
#include "services/UpdaterController.h"
#include "services/VersionComparator.h"

#include <QTest>
#include <QTimeZone>

using namespace varlo;
using namespace std::chrono_literals;
using Outcome = UpdateCheckResult::Outcome;
Q_DECLARE_METATYPE(varlo::UpdateCheckResult::Outcome)

constexpr std::chrono::seconds timeLimit{2};
constexpr qint64 maxBytes = 64 * 1024;
const QString automaticKey = QString::fromLatin1(UpdaterController::automaticChecksKey);
const QString lastDateKey = QString::fromLatin1(UpdaterController::lastCheckDateKey);
constexpr double startSeconds = 736257600.0; // 2024-05-01 12:00 UTC, counted from 2001-01-01

static QByteArray http(const QByteArray& status, const QByteArray& body)
{
    return "HTTP/1.1 " + status +
           "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

static QByteArray feed(const QByteArray& items)
{
    return "<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>" + items +
           "</channel></rss>";
}

static QByteArray item(const QByteArray& version, const QByteArray& extra = {})
{
    return "<item><sparkle:version>" + version + "</sparkle:version>" + extra + "</item>";
}

class TstUpdates : public QObject
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

    void check_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail"); // shown version, or a piece of the error
        QTest::addColumn<QUrl>("page");      // relative to the feed
        const auto row = [](const char* name, const QByteArray& response, Outcome outcome,
                            const QString& detail, const QUrl& page = {}) {
            QTest::newRow(name) << response << outcome << detail << page;
        };
        const auto ok = [](const QByteArray& items) { return http("200 OK", feed(items)); };
        const QByteArray huge = feed(item("0.2.0", QByteArray(2 * maxBytes, ' ')));
        row("newer",
            ok(item("0.2.0", "<sparkle:shortVersionString>0.2</sparkle:shortVersionString><link>/dl</link>")),
            Outcome::UpdateAvailable, "0.2", QUrl("/dl"));
        row("same", ok(item("0.1.0")), Outcome::UpToDate, "0.1.0");
        row("older", ok(item("0.0.9")), Outcome::UpToDate, "0.1.0");
        row("malformed", http("200 OK", feed(item("0.2.0")).chopped(20)), Outcome::Failed, "not valid XML");
        row("HTTP error", http("404 Not Found", feed(item("9.0"))), Outcome::Failed, "HTTP 404 Not Found");
        row("silent server", {}, Outcome::Failed, "didn't answer within 2 seconds");
        row("huge, declared", http("200 OK", huge), Outcome::Failed, "larger than");
        row("huge, streamed", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + huge, Outcome::Failed,
            "larger than");
        row("unsafe links dropped",
            ok(item("0.2", "<link>javascript:alert(1)</link><enclosure url='https://x.example/v.tgz'/>"
                           "<sparkle:releaseNotesLink>file:///etc/passwd</sparkle:releaseNotesLink>")),
            Outcome::UpdateAvailable, "0.2", QUrl("https://x.example/v.tgz"));
        // Each entity repeats the previous one ten times: about 20 MB once expanded.
        QByteArray bomb = "<!DOCTYPE rss [<!ENTITY e0 'aaaaaaaaaaaaaaaaaaaa'>";
        for (int level = 1; level <= 6; ++level)
            bomb += "<!ENTITY e" + QByteArray::number(level) + " '" +
                    QByteArray("&e" + QByteArray::number(level - 1) + ";").repeated(10) + "'>";
        row("entity bomb", http("200 OK", bomb + "]><rss><channel><title>&e6;</title></channel></rss>"),
            Outcome::Failed, "not valid XML");
    }
    void check()
    {
        QFETCH(QByteArray, response);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);
        QFETCH(QUrl, page);
        using Behaviour = test::TestHttpServer::Behaviour;
        const Behaviour behaviour = response.isEmpty() ? Behaviour::silent : Behaviour::answerAndClose;
        test::TestHttpServer server("/appcast.xml", behaviour, response);
        const QUrl url(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server.serverPort()));
        const auto result = test::awaitTask(UpdateChecker({url, "0.1.0", timeLimit, maxBytes}).check(), 20s);
        QVERIFY(result);
        QCOMPARE(result->outcome, outcome);
        if (outcome == Outcome::Failed)
            QVERIFY2(result->error.contains(detail), qPrintable(result->error));
        else
            QCOMPARE(result->displayVersion, detail);
        QCOMPARE(result->pageUrl, page.isEmpty() ? QUrl() : url.resolved(page));
    }

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

QTEST_GUILESS_MAIN(TstUpdates)
#include "tst_updates.moc"
