#include "TestSupport.h"
#include "detectors/TunnelDetector.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>
#include <sys/stat.h>

using namespace varlo;

namespace {

QStringList describe(const TunnelMap& map)
{
    QStringList lines;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        lines << QStringLiteral("%1=%2|%3")
                     .arg(it.key())
                     .arg(TunnelInfo::providerName(it.value().provider), it.value().publicURL);
    return lines;
}

QByteArray httpAnswer(const QByteArray& body, const QByteArray& status = "200 OK")
{
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray ngrokBody(const QList<std::pair<const char*, const char*>>& tunnels)
{
    // Plain literals throughout: moc misreads raw strings.
    QByteArray json = "{\"uri\":\"/api/tunnels\",\"tunnels\":[";
    for (const auto& [url, addr] : tunnels)
        json += QByteArray("{\"name\":\"t\",\"proto\":\"https\",\"public_url\":\"") + url +
                "\",\"config\":{\"addr\":\"" + addr + "\",\"inspect\":true}},";
    if (!tunnels.isEmpty())
        json.chop(1);
    return json + "]}";
}

// The same JSON, padded with white space to exactly `size` bytes.
QByteArray paddedTo(QByteArray json, qint64 size)
{
    return json.insert(1, QByteArray(size - json.size(), ' '));
}

// A loopback HTTP server driven by the test's event loop.
class LocalHttpServer
{
public:
    enum Mode
    {
        Answer,   // the given bytes, then close
        Silent,   // accepts and never answers
        Endless,  // a body that never ends
        CutShort, // the given bytes, then close with the body incomplete
    };

    explicit LocalHttpServer(Mode mode, QByteArray answer = {}) : m_mode(mode), m_answer(std::move(answer))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                serve(socket);
        });
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    }

    quint16 port() const { return m_server.serverPort(); }
    QStringList requests;
    qint64 streamed = 0;

private:
    static constexpr qint64 streamCap = 512LL * 1024 * 1024;

    void serve(QTcpSocket* socket)
    {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray& request = m_pending[socket];
            request += socket->readAll();
            if (!request.contains("\r\n\r\n"))
                return;
            requests << QString::fromLatin1(request.left(request.indexOf("\r\n")));
            request = "\r\n\r\n"; // answered once
            switch (m_mode) {
            case Answer:
            case CutShort:
                socket->write(m_answer);
                socket->disconnectFromHost();
                break;
            case Silent:
                break;
            case Endless: {
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n{\"tunnels\":[");
                const auto pump = [this, socket] {
                    const QByteArray chunk(64 * 1024, ' ');
                    while (socket->state() == QAbstractSocket::ConnectedState &&
                           socket->bytesToWrite() < 256 * 1024 && streamed < streamCap) {
                        socket->write(chunk);
                        streamed += chunk.size();
                    }
                };
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
                pump();
                break;
            }
            }
        });
    }

    QTcpServer m_server;
    Mode m_mode;
    QByteArray m_answer;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

// Scripted tool output, keyed by the tool's path; records every run.
struct ScriptedTools
{
    QMutex mutex;
    QHash<QString, QString> output;
    QStringList runs;
};

CommandRunner scriptedRunner(const std::shared_ptr<ScriptedTools>& tools)
{
    return [tools](const QString& executable, const QStringList& arguments, double timeout) {
        QMutexLocker lock(&tools->mutex);
        tools->runs << QStringLiteral("%1 %2 (%3)").arg(executable, arguments.join(u' ')).arg(timeout);
        return tools->output.value(executable);
    };
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

const QString cloudflaredConfig = QStringLiteral(".cloudflared/config.yml");

} // namespace

class TstTunnelDetector : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    std::shared_ptr<ScriptedTools> m_tools;
    quint16 m_refusedPort = 0;

    QString homePath(const QString& relative) const { return QDir(m_home->path()).filePath(relative); }

    TunnelDetector::Environment environment(const QList<qint64>& metricsPorts = QList<qint64>()) const
    {
        TunnelDetector::Environment env;
        env.homeDirectory = m_home->path();
        env.tools.lsof = QStringLiteral("/scripted/lsof");
        env.tools.ps = QStringLiteral("/scripted/ps");
        env.tools.pgrep = QStringLiteral("/scripted/pgrep");
        env.runner = scriptedRunner(m_tools);
        env.defaultNgrokAPIPort = m_refusedPort;
        env.quickTunnelMetricsPorts = metricsPorts.isEmpty() ? QList<qint64>{m_refusedPort} : metricsPorts;
        return env;
    }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        m_tools = std::make_shared<ScriptedTools>();
        m_refusedPort = test::freeLoopbackPort();
    }

    void portFromAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<qint64>("expected"); // -1: nothing

        QTest::newRow("url") << "http://localhost:3000" << qint64(3000);
        QTest::newRow("host and port") << "localhost:3000" << qint64(3000);
        QTest::newRow("bare port") << "3000" << qint64(3000);
        QTest::newRow("trailing slash") << "http://localhost:3000/" << qint64(-1);
        QTest::newRow("scheme and host") << "http://localhost" << qint64(-1);
        QTest::newRow("empty") << "" << qint64(-1);
        QTest::newRow("colons only") << ":::" << qint64(-1);
        QTest::newRow("signed") << "host:+8080" << qint64(8080);
        QTest::newRow("space inside") << "localhost: 3000" << qint64(-1);
        QTest::newRow("beyond 64 bits") << "localhost:99999999999999999999" << qint64(-1);
        QTest::newRow("non-ascii digits") << QStringLiteral("localhost:\u0663\u0660") << qint64(-1);
    }

    void portFromAddress()
    {
        QFETCH(QString, address);
        QFETCH(qint64, expected);
        QCOMPARE(TunnelDetector::portFromAddress(address).value_or(-1), expected);
    }

    void resolveNgrokAPIPort_data()
    {
        // Contents of the three candidate files; null = absent, "<fifo>" and "<dir>" as named.
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QByteArray>("third");
        QTest::addColumn<qint64>("configured");
        QTest::addColumn<qint64>("expected"); // 0: the default

        const QByteArray none;
        QTest::newRow("configured wins")
            << QByteArray("web_addr: 4050\n") << none << none << qint64(4041) << qint64(4041);
        QTest::newRow("host:port") << none << QByteArray("web_addr: localhost:4041\n") << none << qint64(0)
                                   << qint64(4041);
        QTest::newRow("indented under agent")
            << none << none << QByteArray("version: 2\nagent:\n\tweb_addr:  127.0.0.1:4043  \n") << qint64(0)
            << qint64(4043);
        QTest::newRow("bare port") << QByteArray("web_addr: 4042") << none << none << qint64(-3)
                                   << qint64(4042);
        QTest::newRow("false falls through")
            << QByteArray("web_addr: false\n") << QByteArray("web_addr: 4044\n") << none << qint64(0)
            << qint64(4044);
        QTest::newRow("only first line counts")
            << QByteArray("web_addr: nope\nweb_addr: 4045\n") << none << none << qint64(0) << qint64(0);
        QTest::newRow("comment") << QByteArray("# web_addr: 4046\n") << none << none << qint64(0)
                                 << qint64(0);
        QTest::newRow("earlier file wins") << QByteArray("web_addr: 4047\n") << QByteArray("web_addr: 4048\n")
                                           << none << qint64(0) << qint64(4047);
        QTest::newRow("crlf") << QByteArray("authtoken: x\r\nweb_addr: 4049\r\n") << none << none << qint64(0)
                              << qint64(4049);
        QTest::newRow("binary skipped") << QByteArray("web_addr: 4051\n\xff\xfe\x00", 18)
                                        << QByteArray("web_addr: 4052") << none << qint64(0) << qint64(4052);
        QTest::newRow("enormous skipped")
            << QByteArray("web_addr: 4053\n") + QByteArray(2 * 1024 * 1024, '#') << none
            << QByteArray("web_addr: 4054") << qint64(0) << qint64(4054);
        QTest::newRow("fifo skipped") << QByteArray("<fifo>") << QByteArray("<dir>")
                                      << QByteArray("web_addr: 4055") << qint64(0) << qint64(4055);
    }

    void resolveNgrokAPIPort()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QByteArray, third);
        QFETCH(qint64, configured);
        QFETCH(qint64, expected);

        const QStringList files{"Library/Application Support/ngrok/ngrok.yml", ".config/ngrok/ngrok.yml",
                                ".ngrok2/ngrok.yml"};
        const QList<QByteArray> contents{first, second, third};
        for (int i = 0; i < files.size(); ++i) {
            const QString path = homePath(files[i]);
            if (contents[i].isNull())
                continue;
            if (contents[i] == "<dir>") {
                QVERIFY(QDir().mkpath(path));
            } else if (contents[i] == "<fifo>") {
                QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            } else {
                QVERIFY(writeFile(path, contents[i]));
            }
        }

        const TunnelDetector detector(environment());
        QFuture<qint64> port =
            QtConcurrent::run([&detector, configured] { return detector.resolveNgrokAPIPort(configured); });
        QTRY_VERIFY_WITH_TIMEOUT(port.isFinished(), 5000);
        QCOMPARE(port.result(), expected ? expected : qint64(m_refusedPort));
    }

    void ngrokAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("https preferred")
            << httpAnswer(ngrokBody({{"http://a.ngrok.app", "http://localhost:3000"},
                                     {"https://a.ngrok.app", "http://localhost:3000"},
                                     {"https://b.ngrok.app", "localhost:8080"}}))
            << QStringList{"3000=ngrok|https://a.ngrok.app", "8080=ngrok|https://b.ngrok.app"};
        QTest::newRow("https first") << httpAnswer(
                                            ngrokBody({{"https://a.ngrok.app", "http://localhost:3000"},
                                                       {"http://a.ngrok.app", "http://localhost:3000"}}))
                                     << QStringList{"3000=ngrok|https://a.ngrok.app"};
        QTest::newRow("last https wins")
            << httpAnswer(ngrokBody({{"https://a.ngrok.app", "3000"}, {"https://b.ngrok.app", "3000"}}))
            << QStringList{"3000=ngrok|https://b.ngrok.app"};
        QTest::newRow("addresses without a port skipped")
            << httpAnswer(ngrokBody({{"https://a.ngrok.app", "http://localhost"},
                                     {"https://b.ngrok.app", "http://localhost:3000/"},
                                     {"tcp://0.tcp.ngrok.io:12345", "localhost:22"}}))
            << QStringList{"22=ngrok|tcp://0.tcp.ngrok.io:12345"};
        QTest::newRow("error status still read")
            << httpAnswer(ngrokBody({{"https://a.ngrok.app", "3000"}}), "500 Internal Server Error")
            << QStringList{"3000=ngrok|https://a.ngrok.app"};
        QTest::newRow("redirect not followed")
            << httpAnswer(ngrokBody({{"https://a.ngrok.app", "3000"}}), "302 Found\r\nLocation: /elsewhere")
            << QStringList{"3000=ngrok|https://a.ngrok.app"};
        QTest::newRow("answer as large as allowed")
            << httpAnswer(
                   paddedTo(ngrokBody({{"https://a.ngrok.app", "3000"}}), TunnelDetector::maxAnswerBytes))
            << QStringList{"3000=ngrok|https://a.ngrok.app"};
        QTest::newRow("no tunnels") << httpAnswer("{\"tunnels\":[]}") << QStringList{};
        QTest::newRow("missing config")
            << httpAnswer(
                   "{\"tunnels\":[{\"public_url\":\"https://a.ngrok.app\",\"config\":{\"addr\":\"3000\"}},"
                   "{\"public_url\":\"https://b.ngrok.app\"}]}")
            << QStringList{};
        QTest::newRow("missing tunnels") << httpAnswer("{\"endpoints\":[]}") << QStringList{};
        QTest::newRow("url not text")
            << httpAnswer("{\"tunnels\":[{\"public_url\":7,\"config\":{\"addr\":\"3000\"}}]}")
            << QStringList{};
        QTest::newRow("addr null")
            << httpAnswer(
                   "{\"tunnels\":[{\"public_url\":\"https://a.ngrok.app\",\"config\":{\"addr\":null}}]}")
            << QStringList{};
        QTest::newRow("tunnels not a list") << httpAnswer("{\"tunnels\":{}}") << QStringList{};
        QTest::newRow("top-level list") << httpAnswer("[{\"tunnels\":[]}]") << QStringList{};
        QTest::newRow("malformed") << httpAnswer("{\"tunnels\":[{\"public_url\":\"https://a.ngrok.app\",")
                                   << QStringList{};
        QTest::newRow("non-utf-8")
            << httpAnswer(
                   "{\"tunnels\":[{\"public_url\":\"https://\xff\xfe.app\",\"config\":{\"addr\":\"3000\"}}]}")
            << QStringList{};
        QTest::newRow("not http") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << QStringList{};
    }

    void ngrokAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, expected);

        LocalHttpServer agent(LocalHttpServer::Answer, answer);
        const TunnelDetector detector(environment());
        const auto map = test::awaitTask(detector.ngrokTunnels(agent.port()), std::chrono::seconds(10));
        QVERIFY(map);
        QCOMPARE(describe(*map), expected);
        // Qt's client retries a garbled answer on a fresh connection.
        QVERIFY(!agent.requests.isEmpty());
        QCOMPARE(agent.requests.first(), "GET /api/tunnels HTTP/1.1");
    }

    void ngrokAgentFoundThroughConfig()
    {
        LocalHttpServer agent(LocalHttpServer::Answer,
                              httpAnswer(ngrokBody({{"https://a.ngrok.app", "3000"}})));
        QVERIFY(
            writeFile(homePath(".config/ngrok/ngrok.yml"),
                      "agent:\n  authtoken: x\n  web_addr: 127.0.0.1:" + QByteArray::number(agent.port())));
        const TunnelDetector detector(environment());
        const auto map = test::awaitTask(detector.ngrokTunnels(0), std::chrono::seconds(10));
        QVERIFY(map);
        QCOMPARE(describe(*map), QStringList{"3000=ngrok|https://a.ngrok.app"});
    }

    void hostileAgents_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("answer");

        const QByteArray big =
            paddedTo(ngrokBody({{"https://a.ngrok.app", "3000"}}), TunnelDetector::maxAnswerBytes + 1);
        QTest::newRow("nobody listening") << -1 << QByteArray();
        QTest::newRow("never answers") << int(LocalHttpServer::Silent) << QByteArray();
        QTest::newRow("endless body") << int(LocalHttpServer::Endless) << QByteArray();
        QTest::newRow("oversized, announced") << int(LocalHttpServer::Answer) << httpAnswer(big);
        QTest::newRow("oversized, unannounced")
            << int(LocalHttpServer::Answer) << "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big;
        QTest::newRow("cut short") << int(LocalHttpServer::CutShort)
                                   << "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" +
                                          ngrokBody({{"https://a.ngrok.app", "3000"}}).left(60);
    }

    void hostileAgents()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, answer);

        std::unique_ptr<LocalHttpServer> agent;
        if (mode >= 0)
            agent = std::make_unique<LocalHttpServer>(LocalHttpServer::Mode(mode), answer);
        const TunnelDetector detector(environment());
        QElapsedTimer elapsed;
        elapsed.start();
        const auto map = test::awaitTask(detector.ngrokTunnels(agent ? agent->port() : m_refusedPort),
                                         std::chrono::seconds(10));
        const qint64 ms = elapsed.elapsed();
        QVERIFY(map);
        QVERIFY(map->isEmpty());
        QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
        if (agent)
            QVERIFY2(agent->streamed < 64 * 1024 * 1024, qPrintable(QString::number(agent->streamed)));
        qInfo("answered in %lld ms, %lld bytes streamed", ms, agent ? agent->streamed : 0);
    }

    void parseCloudflaredConfig_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("named tunnel") << "tunnel: abc\ningress:\n  hostname: app.example.com\n"
                                         "  service: http://localhost:3000\ncredentials-file: x.json\n"
                                      << QStringList{"3000=Cloudflare|https://app.example.com"};
        QTest::newRow("loopback address")
            << "ingress:\n\thostname: a.example.com\n\tservice: http://127.0.0.1:5173"
            << QStringList{"5173=Cloudflare|https://a.example.com"};
        QTest::newRow("list entries")
            << "ingress:\n  - hostname: a.example.com\n    service: http://localhost:3000\n"
               "  -   hostname:   b.example.com\n    service: https://localhost:8443\n\n"
               "  - service: http_status:404\n"
            << QStringList{"3000=Cloudflare|https://a.example.com", "8443=Cloudflare|https://b.example.com"};
        QTest::newRow("remote service drops the name")
            << "ingress:\n  hostname: a.example.com\n  service: http://10.0.0.5:3000\n"
               "  service: http://localhost:3001\n"
            << QStringList{};
        QTest::newRow("service without a name") << "ingress:\n  service: http://localhost:3000\n"
                                                << QStringList{};
        QTest::newRow("empty name") << "ingress:\n  hostname:\n  service: http://localhost:3000\n"
                                    << QStringList{};
        QTest::newRow("later name replaces")
            << "ingress:\n  hostname: a.example.com\n  hostname: b.example.com\n"
               "  service: localhost:3000\n"
            << QStringList{"3000=Cloudflare|https://b.example.com"};
        QTest::newRow("path after port")
            << "ingress:\n  hostname: a.example.com\n  service: http://localhost:8000/app\n"
            << QStringList{};
        QTest::newRow("top-level key ends the block")
            << "ingress:\n  hostname: a.example.com\nwarp-routing: {}\n  hostname: b.example.com\n"
               "  service: http://localhost:3000\n"
            << QStringList{};
        QTest::newRow("later entry for a port wins")
            << "ingress:\n- hostname: a.example.com\n  service: http://localhost:3000\n"
               "- hostname: b.example.com\n  service: http://localhost:3000\n"
            << QStringList{"3000=Cloudflare|https://b.example.com"};
        QTest::newRow("crlf")
            << "ingress:\r\n  - hostname: a.example.com\r\n    service: http://localhost:3000\r\n"
            << QStringList{"3000=Cloudflare|https://a.example.com"};
        QTest::newRow("no ingress") << "hostname: a.example.com\nservice: http://localhost:3000\n"
                                    << QStringList{};
    }

    void parseCloudflaredConfig()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(describe(TunnelDetector::parseCloudflaredConfig(text)), expected);
    }

    void quickTunnel_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("pids");
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("expected");

        const QByteArray answer = "{\"hostname\":\"q.trycloudflare.com\",\"other\":1}";
        const QString command =
            "/usr/local/bin/cloudflared tunnel --url http://localhost:8080 --no-autoupdate";
        QTest::newRow("quick tunnel")
            << answer << "4242" << command << QStringList{"8080=Cloudflare|https://q.trycloudflare.com"};
        QTest::newRow("url with equals") << answer << "junk\n 4242 \n4243"
                                         << "cloudflared tunnel --url=localhost:9090"
                                         << QStringList{"9090=Cloudflare|https://q.trycloudflare.com"};
        QTest::newRow("empty hostname")
            << QByteArray("{\"hostname\":\"\"}") << "4242" << command << QStringList{};
        QTest::newRow("hostname not text")
            << QByteArray("{\"hostname\":5}") << "4242" << command << QStringList{};
        QTest::newRow("not json") << QByteArray("q.trycloudflare.com") << "4242" << command << QStringList{};
        QTest::newRow("no --url") << answer << "4242"
                                  << "cloudflared tunnel run mytunnel" << QStringList{};
        QTest::newRow("no listener") << answer << "" << command << QStringList{};
        QTest::newRow("process gone") << answer << "4242"
                                      << "" << QStringList{};
    }

    void quickTunnel()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, pids);
        QFETCH(QString, commandLine);
        QFETCH(QStringList, expected);

        LocalHttpServer metrics(LocalHttpServer::Answer, httpAnswer(body));
        m_tools->output.insert("/scripted/lsof", pids);
        m_tools->output.insert("/scripted/ps", commandLine);
        const TunnelDetector detector(environment());
        const auto found = test::awaitTask(detector.quickTunnel(metrics.port()), std::chrono::seconds(10));
        QVERIFY(found);
        TunnelMap map;
        if (*found)
            map.insert((*found)->first, (*found)->second);
        QCOMPARE(describe(map), expected);
        QCOMPARE(metrics.requests, QStringList{"GET /quicktunnel HTTP/1.1"});
        if (!expected.isEmpty()) {
            QCOMPARE(
                m_tools->runs,
                (QStringList{
                    QStringLiteral("/scripted/lsof -t -nP -iTCP:%1 -sTCP:LISTEN (8)").arg(metrics.port()),
                    "/scripted/ps -p 4242 -o args= (8)"}));
        }
    }

    void nothingWithoutAgentProcess()
    {
        QVERIFY(writeFile(homePath(cloudflaredConfig), "ingress:\n  - hostname: a.example.com\n"
                                                       "    service: http://localhost:3000\n"));
        LocalHttpServer metrics(LocalHttpServer::Answer,
                                httpAnswer("{\"hostname\":\"q.trycloudflare.com\"}"));
        const TunnelDetector detector(environment({metrics.port()}));

        auto map = test::awaitTask(detector.cloudflareTunnels(), std::chrono::seconds(10));
        QVERIFY(map);
        QVERIFY(map->isEmpty());
        QCOMPARE(m_tools->runs, QStringList{"/scripted/pgrep -x cloudflared (8)"});
        QVERIFY(metrics.requests.isEmpty());

        m_tools->output.insert("/scripted/pgrep", "1234");
        map = test::awaitTask(detector.cloudflareTunnels(), std::chrono::seconds(10));
        QVERIFY(map);
        QCOMPARE(describe(*map), QStringList{"3000=Cloudflare|https://a.example.com"});
    }

    void unusableConfigFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("binary") << QByteArray("ingress:\n  hostname: a.example.com\n\x80\x81\x00 service: x",
                                              48)
                                << QStringList{};
        QTest::newRow("enormous")
            << "ingress:\n  - hostname: a.example.com\n    service: http://localhost:3000\n" +
                   QByteArray(8 * 1024 * 1024, ' ')
            << QStringList{};
        QTest::newRow("fifo") << QByteArray("<fifo>") << QStringList{};
        QTest::newRow("readable") << QByteArray(
                                         "ingress:\n  - hostname: a.example.com\n    service: localhost:3000")
                                  << QStringList{"3000=Cloudflare|https://a.example.com"};
    }

    void unusableConfigFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);

        const QString path = homePath(cloudflaredConfig);
        if (content == "<fifo>") {
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QVERIFY(writeFile(path, content));
        }
        m_tools->output.insert("/scripted/pgrep", "1234");
        const TunnelDetector detector(environment());
        const auto map = test::awaitTask(detector.cloudflareTunnels(), std::chrono::seconds(5));
        QVERIFY(map);
        QCOMPARE(describe(*map), expected);
    }

    void probesRunSideBySide()
    {
        std::vector<std::unique_ptr<LocalHttpServer>> silent;
        QList<qint64> ports;
        for (int i = 0; i < 5; ++i) {
            silent.push_back(std::make_unique<LocalHttpServer>(LocalHttpServer::Silent));
            ports << silent.back()->port();
        }
        m_tools->output.insert("/scripted/pgrep", "1234");
        const TunnelDetector detector(environment(ports));
        QElapsedTimer elapsed;
        elapsed.start();
        const auto map = test::awaitTask(detector.cloudflareTunnels(), std::chrono::seconds(10));
        QVERIFY(map);
        QVERIFY(map->isEmpty());
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
        for (const auto& server : silent)
            QCOMPARE(server->requests.size(), 1);
    }

    void detectMerges_data()
    {
        QTest::addColumn<bool>("ngrokUp");
        QTest::addColumn<bool>("cloudflaredUp");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("both") << true << true
                              << QStringList{"3000=Cloudflare|https://named.example.com",
                                             "3001=Cloudflare|https://q.trycloudflare.com",
                                             "3002=ngrok|https://a.ngrok.app",
                                             "3003=ngrok|https://b.ngrok.app"};
        QTest::newRow("no ngrok agent") << false << true
                                        << QStringList{"3000=Cloudflare|https://named.example.com",
                                                       "3001=Cloudflare|https://q.trycloudflare.com",
                                                       "3002=Cloudflare|https://shadowed.example.com"};
        QTest::newRow("no cloudflared")
            << true << false
            << QStringList{"3002=ngrok|https://a.ngrok.app", "3003=ngrok|https://b.ngrok.app"};
    }

    void detectMerges()
    {
        QFETCH(bool, ngrokUp);
        QFETCH(bool, cloudflaredUp);
        QFETCH(QStringList, expected);

        LocalHttpServer ngrok(
            LocalHttpServer::Answer,
            httpAnswer(ngrokBody({{"https://a.ngrok.app", "3002"}, {"https://b.ngrok.app", "3003"}})));
        LocalHttpServer metrics(LocalHttpServer::Answer,
                                httpAnswer("{\"hostname\":\"q.trycloudflare.com\"}"));
        QVERIFY(writeFile(homePath(cloudflaredConfig), "ingress:\n"
                                                       "  - hostname: named.example.com\n"
                                                       "    service: http://localhost:3000\n"
                                                       "  - hostname: replaced.example.com\n"
                                                       "    service: http://localhost:3001\n"
                                                       "  - hostname: shadowed.example.com\n"
                                                       "    service: http://localhost:3002\n"));
        if (cloudflaredUp)
            m_tools->output.insert("/scripted/pgrep", "1234\n1240");
        m_tools->output.insert("/scripted/lsof", "4242");
        m_tools->output.insert("/scripted/ps", "cloudflared tunnel --url http://localhost:3001");

        const TunnelDetector detector(environment({m_refusedPort, metrics.port()}));
        const auto map = test::awaitTask(detector.detect(ngrokUp ? ngrok.port() : m_refusedPort),
                                         std::chrono::seconds(10));
        QVERIFY(map);
        QCOMPARE(describe(*map), expected);
    }

    // The whole Cloudflare path against a real process and the real tools.
    void realAgentProcess()
    {
        TunnelDetector::Environment env = TunnelDetector::Environment::system();
        if (env.tools.pgrep.isEmpty() || env.tools.lsof.isEmpty() || env.tools.ps.isEmpty())
            QSKIP("pgrep, lsof or ps is missing");

        const QList<quint16> ports = test::freeLoopbackPorts(7);
        const qint64 target = ports[5];
        const qint64 named = ports[6];
        QProcess agent;
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.start(QStringLiteral(FAKE_CLOUDFLARED),
                    {"tunnel", "--url", QStringLiteral("http://localhost:%1").arg(target), "--metrics",
                     QStringLiteral("127.0.0.1:%1").arg(ports[1]), "--hostname", "real.trycloudflare.com"});
        QVERIFY(agent.waitForStarted(5000));
        const auto stopAgent = qScopeGuard([&agent] {
            agent.closeWriteChannel();
            if (!agent.waitForFinished(3000)) {
                agent.kill();
                agent.waitForFinished(3000);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(agent.canReadLine(), 10000);
        QCOMPARE(agent.readLine(), QByteArray("ready\n"));

        QVERIFY(
            writeFile(homePath(cloudflaredConfig), "ingress:\n  - hostname: named.example.com\n    service: "
                                                   "http://localhost:" +
                                                       QByteArray::number(named)));
        env.homeDirectory = m_home->path();
        env.defaultNgrokAPIPort = m_refusedPort;
        env.quickTunnelMetricsPorts = {ports[0], ports[1], ports[2], ports[3], ports[4]};
        const TunnelDetector detector(env);

        QFuture<std::optional<qint64>> pid =
            QtConcurrent::run([&detector, port = ports[1]] { return detector.listenerPID(port); });
        QTRY_VERIFY_WITH_TIMEOUT(pid.isFinished(), 20000);
        QCOMPARE(pid.result().value_or(-1), agent.processId());

        const auto map = test::awaitTask(detector.detect(0), std::chrono::seconds(30));
        QVERIFY(map);
        const TunnelMap expected{
            {named, {TunnelInfo::Provider::cloudflare, QStringLiteral("https://named.example.com")}},
            {target, {TunnelInfo::Provider::cloudflare, QStringLiteral("https://real.trycloudflare.com")}}};
        QCOMPARE(describe(*map), describe(expected));
    }
};

QTEST_GUILESS_MAIN(TstTunnelDetector)
#include "tst_tunneldetector.moc"
