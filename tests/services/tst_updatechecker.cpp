#include "TestSupport.h"
#include "services/UpdateChecker.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace varlo;
using namespace std::chrono_literals;
using Outcome = UpdateCheckResult::Outcome;
Q_DECLARE_METATYPE(varlo::UpdateCheckResult::Outcome)

constexpr std::chrono::seconds timeLimit{2};
constexpr qint64 maxBytes = 64 * 1024;

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

class TstUpdateChecker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        // Answers every request with the canned response; without one it reads and never answers.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        connect(&server, &QTcpServer::newConnection, &server, [&server, response] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [socket, response] {
                    socket->setProperty("request",
                                        socket->property("request").toByteArray() + socket->readAll());
                    if (socket->property("request").toByteArray().contains("\r\n\r\n") &&
                        !response.isEmpty()) {
                        socket->write(response);
                        socket->disconnectFromHost();
                    }
                });
        });
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
};

QTEST_GUILESS_MAIN(TstUpdateChecker)
#include "tst_updatechecker.moc"
