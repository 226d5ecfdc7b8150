#include "TestSupport.h"
#include "services/UpdateChecker.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace varlo;
using Outcome = UpdateCheckResult::Outcome;
Q_DECLARE_METATYPE(varlo::UpdateCheckResult::Outcome)

namespace {

// Serves one canned HTTP response to every request on 127.0.0.1; with no
// response set it reads the request and never answers.
class FeedServer : public QObject
{
public:
    QByteArray response;
    int requests = 0;

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, &FeedServer::accept);
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort()));
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
                socket->setProperty("request", request);
                if (!request.contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                ++requests;
                if (!response.isEmpty()) {
                    socket->write(response);
                    socket->disconnectFromHost();
                }
            });
        }
    }

    QTcpServer m_server;
};

QByteArray http(const QByteArray& status, const QByteArray& body, bool withLength = true)
{
    QByteArray head = "HTTP/1.1 " + status + "\r\nContent-Type: application/rss+xml\r\nConnection: close\r\n";
    if (withLength)
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return head + "\r\n" + body;
}

QByteArray feed(const QByteArray& items)
{
    return "<?xml version='1.0' encoding='utf-8'?>\n"
           "<rss version='2.0' xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'>\n"
           "<channel><title>Varlo</title>" +
           items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& extra = {})
{
    return "<item><title>Varlo " + version + "</title><sparkle:version>" + version + "</sparkle:version>" +
           extra + "</item>";
}

std::optional<UpdateCheckResult> check(const QUrl& url,
                                       std::chrono::milliseconds limit = std::chrono::seconds(5),
                                       qint64 maxBytes = 4 * 1024 * 1024)
{
    const UpdateChecker checker({url, QStringLiteral("0.1.0"), limit, maxBytes});
    return test::awaitTask(checker.check(), std::chrono::seconds(20));
}

// Each entity repeats the previous one ten times: about 20 MB once expanded.
QByteArray entityBomb()
{
    QByteArray doc = "<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY e0 'aaaaaaaaaaaaaaaaaaaa'>";
    for (int level = 1; level <= 6; ++level)
        doc += "<!ENTITY e" + QByteArray::number(level) + " '" +
               QByteArray("&e" + QByteArray::number(level - 1) + ";").repeated(10) + "'>";
    return doc + "]><rss><channel><item><title>&e6;</title></item></channel></rss>";
}

} // namespace

class TstUpdateChecker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void overHttp_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("detail"); // shown version, or a piece of the error

        const QByteArray newer = item("0.2.0", "<sparkle:shortVersionString>0.2</sparkle:shortVersionString>"
                                               "<link>https://varlo.example/download</link>");
        QTest::newRow("newer") << http("200 OK", feed(newer)) << Outcome::UpdateAvailable << "0.2";
        QTest::newRow("same") << http("200 OK", feed(item("0.1.0"))) << Outcome::UpToDate << "0.1.0";
        QTest::newRow("older") << http("200 OK", feed(item("0.0.9"))) << Outcome::UpToDate << "0.1.0";
        QTest::newRow("no length header")
            << http("200 OK", feed(newer), false) << Outcome::UpdateAvailable << "0.2";
        QTest::newRow("malformed") << http("200 OK", feed(item("0.2.0")).chopped(20)) << Outcome::Failed
                                   << "not valid XML";
        QTest::newRow("not xml") << http("200 OK", "Hello, captive portal") << Outcome::Failed
                                 << "not valid XML";
        QTest::newRow("not found") << http("404 Not Found", "gone") << Outcome::Failed
                                   << "HTTP 404 Not Found";
        QTest::newRow("server error")
            << http("500 Internal Server Error", feed(item("9.0"))) << Outcome::Failed << "HTTP 500";
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01 not http at all\r\n\r\n") << Outcome::Failed
                                 << "update server";
    }

    void overHttp()
    {
        QFETCH(QByteArray, response);
        QFETCH(Outcome, outcome);
        QFETCH(QString, detail);

        FeedServer server;
        QVERIFY(server.start());
        server.response = response;
        const auto result = check(server.url());
        QVERIFY(result);
        QCOMPARE(result->outcome, outcome);
        QVERIFY(server.requests >= 1); // Qt retries a garbled response on its own
        if (outcome == Outcome::Failed)
            QVERIFY2(result->error.contains(detail), qPrintable(result->error));
        else
            QCOMPARE(result->displayVersion, detail);
        if (outcome == Outcome::UpdateAvailable)
            QCOMPARE(result->pageUrl, QUrl(QStringLiteral("https://varlo.example/download")));
    }

    void silentServerTimesOut()
    {
        FeedServer server;
        QVERIFY(server.start());
        QElapsedTimer clock;
        clock.start();
        const auto result = check(server.url(), std::chrono::milliseconds(300));
        QVERIFY(result);
        QCOMPARE(result->outcome, Outcome::Failed);
        QVERIFY2(result->error.contains(QLatin1String("didn't answer")), qPrintable(result->error));
        QVERIFY(clock.elapsed() < 3000);
    }

    void hugeFeedIsCut_data()
    {
        QTest::addColumn<bool>("withLength");
        QTest::newRow("declared length") << true;
        QTest::newRow("streamed") << false;
    }

    void hugeFeedIsCut()
    {
        QFETCH(bool, withLength);
        FeedServer server;
        QVERIFY(server.start());
        server.response = http("200 OK", feed(item("0.2.0", QByteArray(1024 * 1024, ' '))), withLength);
        const auto result = check(server.url(), std::chrono::seconds(5), 64 * 1024);
        QVERIFY(result);
        QCOMPARE(result->outcome, Outcome::Failed);
        QVERIFY2(result->error.contains(QLatin1String("larger than")), qPrintable(result->error));
    }

    void refusesInsecureFeeds()
    {
        for (const char* url :
             {"http://updates.example/appcast.xml", "file:///etc/passwd", "ftp://x/y", ""}) {
            const auto result = check(QUrl(QString::fromLatin1(url)));
            QVERIFY(result);
            QCOMPARE(result->outcome, Outcome::Failed);
        }
    }

    void evaluate_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QUrl>("page");

        const QUrl none;
        QTest::newRow("newest wins, not first") << feed(item("0.1.5") + item("0.3.0") + item("0.2.0"))
                                                << Outcome::UpdateAvailable << "0.3.0" << none;
        QTest::newRow("version on the enclosure")
            << feed("<item><enclosure url='https://dl.example/varlo-0.4.tar.gz' sparkle:version='0.4'\n"
                    "    sparkle:shortVersionString='Zero Four'/></item>")
            << Outcome::UpdateAvailable << "Zero Four"
            << QUrl(QStringLiteral("https://dl.example/varlo-0.4.tar.gz"));
        QTest::newRow("beta channel ignored")
            << feed(item("0.9", "<sparkle:channel>beta</sparkle:channel>") + item("0.1.0"))
            << Outcome::UpToDate << "0.1.0" << none;
        QTest::newRow("other system ignored")
            << feed(item("0.9", "<enclosure url='https://x.example/a.dmg' sparkle:os='macos'/>"))
            << Outcome::UpToDate << "0.1.0" << none;
        QTest::newRow("unsafe link dropped, relative one resolved")
            << feed(
                   item("0.2",
                        "<link>javascript:alert(1)</link><enclosure url='../dl/varlo.tar.gz'/>"
                        "<sparkle:releaseNotesLink>file:///etc/passwd</sparkle:releaseNotesLink>"
                        "<sparkle:fullReleaseNotesLink>https://n.example/0.2</sparkle:fullReleaseNotesLink>"))
            << Outcome::UpdateAvailable << "0.2"
            << QUrl(QStringLiteral("https://feed.example/dl/varlo.tar.gz"));
        QTest::newRow("no items") << feed({}) << Outcome::UpToDate << "0.1.0" << none;
        QTest::newRow("items without versions")
            << feed("<item><title>x</title></item>") << Outcome::Failed << QString() << none;
        QTest::newRow("html page") << QByteArray("<html><body>hi</body></html>") << Outcome::Failed
                                   << QString() << none;
        QTest::newRow("entity bomb") << entityBomb() << Outcome::Failed << QString() << none;
        QTest::newRow("rich text and a huge version")
            << feed(item("1" + QByteArray(5000, '0'), "<sparkle:shortVersionString>&lt;img src=x&gt;\n\t" +
                                                          QByteArray(5000, 'v') +
                                                          "</sparkle:shortVersionString>"))
            << Outcome::UpdateAvailable
            << QStringLiteral("<img src=x> ") + QString(27, QLatin1Char('v')) + u'…' << none;
    }

    void evaluate()
    {
        QFETCH(QByteArray, body);
        QFETCH(Outcome, outcome);
        QFETCH(QString, version);
        QFETCH(QUrl, page);

        const UpdateCheckResult result = UpdateChecker::evaluate(
            body, QUrl(QStringLiteral("https://feed.example/appcast.xml")), QStringLiteral("0.1.0"));
        QCOMPARE(result.outcome, outcome);
        if (outcome == Outcome::Failed) {
            QVERIFY(!result.error.isEmpty());
            return;
        }
        QCOMPARE(result.displayVersion, version);
        QCOMPARE(result.pageUrl, page);
    }
};

QTEST_GUILESS_MAIN(TstUpdateChecker)
#include "tst_updatechecker.moc"
