#include "TestHttpServer.h"
#include "TestSupport.h"
#include "detectors/LoopbackHttpGet.h"

#include <QElapsedTimer>
#include <QTest>

using namespace varlo;
using namespace std::chrono_literals;
using Server = varlo::test::TestHttpServer;
using Behaviour = Server::Behaviour;

Q_DECLARE_METATYPE(Behaviour)

namespace {

constexpr LoopbackHttpGet::Limits limits{1024 * 1024, 400ms};

std::optional<QByteArray> get(quint16 port, const QByteArray& path = "/x")
{
    return test::awaitTask(LoopbackHttpGet::get(port, path, limits), 5s).value_or(QByteArray("<hung>"));
}

} // namespace

class TstLoopbackHttpGet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<Behaviour>("behaviour");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("body"); // "<none>": no answer
        QTest::addColumn<int>("minMs");       // the time limit is 400 ms
        const auto row = [](const char* name, Behaviour behaviour, const QByteArray& answer,
                            const QByteArray& body,
                            int minMs = 0) { QTest::newRow(name) << behaviour << answer << body << minMs; };
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        const QByteArray chunked = ok + "Transfer-Encoding: Chunked\r\n\r\n";
        row("sized, left open", Behaviour::answer, ok + "content-length:  5\r\n\r\nhello", "hello");
        row("chunked, extension, trailer", Behaviour::answer,
            chunked + "5;x=1\r\nhello\r\n6\r\n world\r\n0\r\nX-T: 1\r\n\r\n", "hello world");
        row("to the close", Behaviour::answerAndClose, "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n{}", "{}");
        row("error status keeps its body", Behaviour::answer,
            "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", "no");
        row("no content", Behaviour::answer, "HTTP/1.1 204 No Content\r\n\r\n", "");
        row("body cut short", Behaviour::answerAndClose, ok + "Content-Length: 9\r\n\r\nshort", "<none>");
        row("chunk cut short", Behaviour::answerAndClose, chunked + "5\r\nhel", "<none>");
        row("chunk without its line end", Behaviour::answer, chunked + "2\r\nabc\r\n", "<none>");
        row("not http", Behaviour::answer, "SSH-2.0-OpenSSH_9.2\r\n\r\n", "<none>");
        row("continue", Behaviour::answer, "HTTP/1.1 100 Continue\r\n\r\n", "<none>");
        row("header without colon", Behaviour::answer, ok + "no colon\r\n\r\n", "<none>");
        row("bad chunk size", Behaviour::answer, chunked + "-5\r\nhello\r\n0\r\n\r\n", "<none>");
        row("two lengths", Behaviour::answer, ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab",
            "<none>");
        row("compressed", Behaviour::answer, ok + "Transfer-Encoding: gzip\r\n\r\n", "<none>");
        row("declared too large", Behaviour::answer, ok + "Content-Length: 1048577\r\n\r\n", "<none>");
        row("header flood", Behaviour::floodHeaders, {}, "<none>");
        row("endless body", Behaviour::endlessBody, ok + "\r\n", "<none>");
        row("trickle", Behaviour::trickle, ok + "Content-Length: 50\r\n\r\n" + QByteArray(50, 'x'), "<none>",
            400);
        row("never answers", Behaviour::silent, {}, "<none>", 400);
    }
    void answers()
    {
        QFETCH(Behaviour, behaviour);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, body);
        QFETCH(int, minMs);
        Server server("/x", behaviour, answer);
        QElapsedTimer clock;
        clock.start();
        const auto got = get(server.serverPort());
        QCOMPARE(got.value_or("<none>"), body);
        QCOMPARE_GE(clock.elapsed(), minMs);
        QCOMPARE_LT(clock.elapsed(), minMs ? minMs + 300 : 300);
        // The connection is closed at once, whatever the server still sends.
        QVERIFY(test::waitUntil([&] { return server.openConnections() == 0; }, 1s));
    }

    void refusedAndUnusable()
    {
        QCOMPARE(get(test::freeLoopbackPort()), std::nullopt);
        Server server("/x", Behaviour::answer, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        QCOMPARE(get(server.serverPort(), "/y"), std::nullopt);                // the request names its path
        QCOMPARE(get(server.serverPort(), "/x HTTP/1.1\r\nX:"), std::nullopt); // no header injection
        QCOMPARE(get(0), std::nullopt);
    }

    void aFloodLeavesNothingBehind()
    {
        Server flood("/x", Behaviour::floodHeaders);
        Server healthy("/x", Behaviour::answer, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(get(flood.serverPort()), std::nullopt);
            QCOMPARE(get(healthy.serverPort()), QByteArray("ok"));
        }
        QVERIFY(test::waitUntil([&] { return flood.openConnections() == 0; }, 1s));
        const qint64 sent = flood.bytesSent();
        QTest::qWait(100);
        QCOMPARE(flood.bytesSent(), sent);
        QCOMPARE_LT(sent, 3 * 4 * 1024 * 1024); // what the kernel buffers, not an endless stream
    }
};

QTEST_GUILESS_MAIN(TstLoopbackHttpGet)
#include "tst_loopbackhttpget.moc"
