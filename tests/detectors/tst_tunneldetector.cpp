#include "TestHttpServer.h"
#include "TestSupport.h"
#include "detectors/TunnelDetector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

using namespace varlo;

Q_DECLARE_METATYPE(varlo::test::TestHttpServer::Behaviour)

namespace {

QByteArray httpAnswer(const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// An agent API answer; `pairs` alternates public URLs and local addresses.
QByteArray ngrokBody(const QByteArrayList& pairs)
{
    QByteArray json = "{\"tunnels\":[";
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        json += "{\"public_url\":\"" + pairs[i] + "\",\"config\":{\"addr\":\"" + pairs[i + 1] + "\"}},";
    return json.chopped(1) + "]}";
}

using Agent = test::TestHttpServer;
using Behaviour = Agent::Behaviour;

QString describe(const TunnelMap& map)
{
    QStringList lines;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        lines << QString::number(it.key()) + '=' + TunnelInfo::providerName(it->provider) + '|' +
                     it->publicURL;
    return lines.join(' ');
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (content == "<fifo>")
        return QDir().mkpath(QFileInfo(path).path()) &&
               ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

} // namespace

class TstTunnelDetector : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_home; // fresh for every test
    const quint16 m_refused = test::freeLoopbackPort();

    TunnelDetector::Environment environment()
    {
        TunnelDetector::Environment env = TunnelDetector::Environment::system();
        env.homeDirectory = m_home->path();
        env.defaultNgrokAPIPort = m_refused;
        return env;
    }

private Q_SLOTS:
    void init() { QVERIFY(m_home.emplace().isValid()); }

    void ngrok_data()
    {
        QTest::addColumn<QList<QByteArray>>("files"); // in search order; null: absent, %1: the agent's port
        QTest::addColumn<Behaviour>("behaviour");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected");
        const QList<QByteArray> agent{{}, "web_addr: %1", {}};
        const auto row = [&](const char* name, const QByteArray& answer, const QString& expected,
                             Behaviour behaviour = Behaviour::answerAndClose, QList<QByteArray> files = {}) {
            QTest::newRow(name) << (files.isEmpty() ? agent : files) << behaviour << answer << expected;
        };
        const QByteArray one = httpAnswer(ngrokBody({"https://a", "3000"}));
        const QString a = "3000=ngrok|https://a";
        // Status line, headers and body of exactly `size` bytes (seven digits of length).
        const auto ofSize = [](qint64 size) {
            const QByteArray json = ngrokBody({"https://a", "3000"});
            return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size - 44) + "\r\n\r\n" + json +
                   QByteArray(size - 44 - json.size(), ' ');
        };
        row("last https wins, port-less skipped",
            httpAnswer(ngrokBody({"http://a", "http://localhost:3000", "https://a", "3000", "https://b",
                                  "localhost:8080", "http://b", "8080", "https://c", "http://c", "https://d",
                                  "9000", "https://e", "9000"})),
            a + " 8080=ngrok|https://b 9000=ngrok|https://e");
        row("an entry without config", httpAnswer("{\"tunnels\":[{\"public_url\":\"https://b\"}]}"), {});
        row("tunnels not a list", httpAnswer("{\"tunnels\":{}}"), {});
        row("malformed", httpAnswer("{\"tunnels\":[{\"public_url\""), {});
        row("never answers", {}, {}, Behaviour::silent);
        row("endless body", "HTTP/1.1 200 OK\r\n\r\n{\"tunnels\":[", {}, Behaviour::endlessBody);
        row("header flood", {}, {}, Behaviour::floodHeaders);
        row("answer of exactly the cap", ofSize(TunnelDetector::maxAnswerBytes), a, Behaviour::answer);
        row("one byte over the cap", ofSize(TunnelDetector::maxAnswerBytes + 1), {}, Behaviour::answer);
        row("host:port, crlf, false falls through", one, a, Behaviour::answerAndClose,
            {"web_addr: false\n", "x: y\r\nweb_addr: localhost:%1\r\n", "web_addr: 0"});
        row("only the first web_addr line counts", one, {}, Behaviour::answerAndClose,
            {"web_addr: false\nweb_addr: %1", {}, {}});
        row("fifo skipped, bare port indented", one, a, Behaviour::answerAndClose,
            {"<fifo>", {}, "agent:\n\tweb_addr:  %1  "});
        row("enormous and binary skipped", one, a, Behaviour::answerAndClose,
            {"web_addr: 0\n" + QByteArray(2 << 20, '#'), QByteArray("web_addr: 0\n\xff\0", 14),
             "web_addr: 127.0.0.1:%1"});
    }
    void ngrok()
    {
        QFETCH(QList<QByteArray>, files);
        QFETCH(Behaviour, behaviour);
        QFETCH(QByteArray, answer);
        Agent agent("/api/tunnels", behaviour, answer);
        const QStringList paths{"Library/Application Support/ngrok/ngrok.yml", ".config/ngrok/ngrok.yml",
                                ".ngrok2/ngrok.yml"};
        for (int i = 0; i < paths.size(); ++i)
            QVERIFY(files[i].isNull() ||
                    writeFile(m_home->filePath(paths[i]),
                              files[i].replace("%1", QByteArray::number(agent.serverPort()))));
        const TunnelDetector detector(environment());
        const auto map = test::awaitTask(detector.ngrokTunnels(0), std::chrono::milliseconds(1900));
        QVERIFY(map);
        QTEST(describe(*map), "expected");
        QVERIFY(test::waitUntil([&] { return agent.openConnections() == 0; }, std::chrono::seconds(1)));
    }

    void listenerPIDSkipsImpossibleIds()
    {
        const TunnelDetector detector(
            {{}, {}, [](auto&&...) { return QString("0\n-7\njunk\n 4242 "); }, 0, {}, {}});
        QCOMPARE(detector.listenerPID(1), 4242);
    }

    // The metrics answer, then lsof and ps through a scripted runner.
    void quickTunnel_data()
    {
        QTest::addColumn<QByteArray>("metrics");
        QTest::addColumn<QString>("args"); // of the process listening on the metrics port
        QTest::addColumn<QString>("expected");
        const QByteArray named = R"({"hostname":"q","x":1})";
        const QString space = "cloudflared tunnel --url http://localhost:3001 --metrics 127.0.0.1:20241";
        QTest::newRow("--url and a space") << named << space << "3001=Cloudflare|https://q";
        QTest::newRow("--url=") << named << "cloudflared tunnel --url=localhost:8080"
                                << "8080=Cloudflare|https://q";
        QTest::newRow("no --url") << named << "cloudflared tunnel run web" << QString();
        QTest::newRow("empty hostname") << QByteArray(R"({"hostname":""})") << space << QString();
        QTest::newRow("hostname not text") << QByteArray(R"({"hostname":7})") << space << QString();
    }
    void quickTunnel()
    {
        QFETCH(QByteArray, metrics);
        QFETCH(QString, args);
        const Agent agent("/quicktunnel", Behaviour::answerAndClose, httpAnswer(metrics));
        const QStringList lsof{"-t", "-nP", QStringLiteral("-iTCP:%1").arg(agent.serverPort()),
                               "-sTCP:LISTEN"};
        TunnelDetector::Environment env = environment();
        env.tools.lsof = "/lsof";
        env.tools.ps = "/ps";
        env.runner = [=](const QString& tool, const QStringList& arguments, double) {
            if (tool == "/lsof" && arguments == lsof)
                return QStringLiteral("4242\n");
            return tool == "/ps" && arguments == QStringList{"-p", "4242", "-o", "args="} ? args : QString();
        };
        const auto found = test::awaitTask(TunnelDetector(env).quickTunnel(agent.serverPort()));
        QVERIFY(found);
        QTEST(*found ? describe({{(*found)->first, (*found)->second}}) : QString(), "expected");
    }

    void cloudflaredConfig_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("indented, unusable entries, ends at a top-level key")
            << "tunnel: x\ningress:\n  hostname: a\n  service: http://localhost:3000\n  hostname: r\n"
               "  service: http://10.0.0.5:3002\n  service: localhost:3003\n  hostname:\n"
               "  service: localhost:3004\n\thostname: b\n\tservice: http://127.0.0.1:5173\n  hostname: d\n"
               "  service: localhost:8000/app\nwarp-routing: {}\n  hostname: c\n  service: localhost:3001\n"
            << QString("3000=Cloudflare|https://a 5173=Cloudflare|https://b");
        QTest::newRow("dash form, crlf, later entry wins")
            << "ingress:\r\n  - hostname: a\r\n    service: http://localhost:3000\r\n  -   hostname:   b\r\n"
               "    service: https://localhost:8443\r\n  - service: http_status:404\r\n- hostname: c\r\n"
               "  service: localhost:3000"
            << QString("3000=Cloudflare|https://c 8443=Cloudflare|https://b");
    }
    void cloudflaredConfig()
    {
        QFETCH(QString, text);
        QTEST(describe(TunnelDetector::parseCloudflaredConfig(text)), "expected");
    }

    // A real cloudflared found through the real tools; quick tunnels replace named ones, ngrok both.
    void detect_data()
    {
        QTest::addColumn<QString>("down");
        QTest::addColumn<QString>("expected");
        const QString cloudflare = "3000=Cloudflare|https://named 3001=Cloudflare|https://quick ";
        const QString ngrok = "3002=ngrok|https://a 3003=ngrok|https://b";
        QTest::newRow("both") << QString() << cloudflare + ngrok;
        QTest::newRow("both, the agent found by pgrep") << QString("procfs") << cloudflare + ngrok;
        QTest::newRow("no ngrok agent")
            << QString("ngrok") << cloudflare + "3002=Cloudflare|https://shadowed";
        QTest::newRow("ngrok floods headers")
            << QString("ngrok floods") << cloudflare + "3002=Cloudflare|https://shadowed";
        QTest::newRow("no cloudflared running") << QString("cloudflared") << ngrok;
    }
    void detect()
    {
        QFETCH(QString, down);
        TunnelDetector::Environment env = environment();
        if (env.tools.pgrep.isEmpty() || env.tools.lsof.isEmpty() || env.tools.ps.isEmpty())
            QSKIP("pgrep, lsof or ps is missing");
        const quint16 metrics = test::freeLoopbackPort();
        QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), m_home->filePath("cloudflared")));
        QProcess agent;
        agent.start(m_home->filePath("cloudflared"), {"tunnel", "--url", "http://localhost:3001", "--metrics",
                                                      QStringLiteral("127.0.0.1:%1").arg(metrics)});
        const auto stop = qScopeGuard([&agent] { agent.close(); });
        QVERIFY(agent.waitForReadyRead(10000));
        Agent ngrok("/api/tunnels",
                    down == "ngrok floods" ? Behaviour::floodHeaders : Behaviour::answerAndClose,
                    httpAnswer(ngrokBody({"https://a", "3002", "https://b", "3003"})));
        QVERIFY(writeFile(m_home->filePath(".cloudflared/config.yml"),
                          "ingress:\n- hostname: named\n  service: localhost:3000\n- hostname: replaced\n"
                          "  service: localhost:3001\n- hostname: shadowed\n  service: localhost:3002"));
        // Without a /proc lookup pgrep is asked; without pgrep either, no agent is found.
        if (down == "cloudflared" || down == "procfs")
            env.cloudflaredRunning = {};
        if (down == "cloudflared")
            env.tools.pgrep.clear();
        env.quickTunnelMetricsPorts = {m_refused, metrics};
        const auto map = test::awaitTask(TunnelDetector(env).detect(down == "ngrok" ? 0 : ngrok.serverPort()),
                                         std::chrono::seconds(30));
        QVERIFY(map);
        QTEST(describe(*map), "expected");
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (QFileInfo(args[0]).fileName() != "cloudflared") {
        TstTunnelDetector test;
        return QTest::qExec(&test, argc, argv);
    }
    // The stand-in agent, `cloudflared tunnel --url U --metrics 127.0.0.1:P`, never outliving its test.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const Agent metrics("/quicktunnel", Behaviour::answerAndClose, httpAnswer("{\"hostname\":\"quick\"}"),
                        args.value(args.indexOf("--metrics") + 1).section(':', -1).toUShort());
    std::puts(metrics.isListening() ? "ready" : "failed");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "tst_tunneldetector.moc"
