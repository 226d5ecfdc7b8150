#include "detectors/TunnelDetector.h"
#include "monitor/BlockingPool.h"
#ifdef Q_OS_LINUX
#include "monitor/ProcFs.h"
#endif

#include "detectors/LoopbackHttpGet.h"
#include "monitor/TextParsing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>
#include <vector>

namespace varlo {

namespace {

using Env = std::shared_ptr<const TunnelDetector::Environment>;

const QStringList ngrokConfigFiles{
    QStringLiteral("Library/Application Support/ngrok/ngrok.yml"),
    QStringLiteral(".config/ngrok/ngrok.yml"),
    QStringLiteral(".ngrok2/ngrok.yml"),
};
const QString cloudflaredConfigFile = QStringLiteral(".cloudflared/config.yml");
constexpr qint64 firstQuickTunnelMetricsPort = 20241;
constexpr int quickTunnelMetricsPortCount = 5;

// The last non-empty piece between colons as an integer, else the whole text.
std::optional<qint64> portAfterLastColon(QStringView text)
{
    const QList<QStringView> pieces = text.split(u':', Qt::SkipEmptyParts);
    if (!pieces.isEmpty()) {
        if (const auto port = parseDecimalInteger<qint64>(pieces.constLast()))
            return port;
    }
    if (text.isEmpty())
        return std::nullopt;
    return parseDecimalInteger<qint64>(text);
}

// Lines at "\n", with the "\r" of a CRLF file dropped.
QList<QStringView> splitLines(QStringView text)
{
    QList<QStringView> lines = text.split(u'\n');
    for (QStringView& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return lines;
}

// A small regular UTF-8 file, or nothing. Anything else (a FIFO would block
// the read, a huge or binary file is not a configuration) is skipped.
std::optional<QString> readConfigFile(const QString& homeDirectory, const QString& relativePath)
{
    if (homeDirectory.isEmpty())
        return std::nullopt;
    const QString path = QDir(homeDirectory).filePath(relativePath);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(TunnelDetector::maxConfigBytes + 1);
    if (bytes.size() > TunnelDetector::maxConfigBytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<qint64> webAddrPort(QStringView text)
{
    static const QString key = QStringLiteral("web_addr:");
    for (QStringView line : splitLines(text)) {
        const QStringView trimmed = trimSpacesAndTabs(line);
        if (!trimmed.startsWith(key))
            continue;
        // Only the first web_addr line counts, even when it yields nothing.
        return portAfterLastColon(trimSpacesAndTabs(trimmed.sliced(key.size())));
    }
    return std::nullopt;
}

qint64 resolveNgrokAPIPortIn(const TunnelDetector::Environment& env, qint64 configuredPort)
{
    if (configuredPort > 0)
        return configuredPort;
    for (const QString& relativePath : ngrokConfigFiles) {
        const auto text = readConfigFile(env.homeDirectory, relativePath);
        if (!text)
            continue;
        if (const auto port = webAddrPort(*text))
            return *port;
    }
    return env.defaultNgrokAPIPort;
}

std::optional<qint64> listenerPIDIn(const TunnelDetector::Environment& env, qint64 port)
{
    const QString output =
        env.runner(env.tools.lsof,
                   {QStringLiteral("-t"), QStringLiteral("-nP"),
                    QStringLiteral("-iTCP:") + QString::number(port), QStringLiteral("-sTCP:LISTEN")},
                   TunnelDetector::toolTimeout);
    for (QStringView line : splitLines(output)) {
        const auto pid = parseDecimalInteger<qint64>(trimSpacesAndTabs(line));
        // Not a process id anyone could own; never hand it to ps as an option.
        if (pid && *pid > 0)
            return pid;
    }
    return std::nullopt;
}

std::optional<qint64> tunnelTargetPortIn(const TunnelDetector::Environment& env, qint64 pid)
{
    const QString output = env.runner(
        env.tools.ps,
        {QStringLiteral("-p"), QString::number(pid), QStringLiteral("-o"), QStringLiteral("args=")},
        TunnelDetector::toolTimeout);
    if (output.isEmpty())
        return std::nullopt;
    static const QRegularExpression urlArgument(QStringLiteral(R"(--url[= ](\S+))"));
    const QRegularExpressionMatch match = urlArgument.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    return TunnelDetector::portFromAddress(match.captured(1));
}

// One GET to an agent on 127.0.0.1, within the detector's limits.
QCoro::Task<std::optional<QByteArray>> fetchLocal(qint64 port, QByteArray path)
{
    return LoopbackHttpGet::get(
        port, std::move(path),
        {TunnelDetector::maxAnswerBytes, std::chrono::milliseconds(TunnelDetector::httpLimitMs)});
}

// GCC 12 may destroy a temporary of a co_await expression twice (a lambda's
// captures, a copied argument): every awaited object below is named first.

QCoro::Task<TunnelMap> ngrokTunnelsIn(Env env, qint64 configuredPort)
{
    qint64 port = configuredPort;
    if (port <= 0) {
        const QFuture<qint64> resolved = QtConcurrent::run(&blockingPool(), [env] { return resolveNgrokAPIPortIn(*env, 0); });
        port = co_await resolved;
    }
    const QCoro::Task<std::optional<QByteArray>> request = fetchLocal(port, "/api/tunnels");
    const auto body = co_await request;
    if (!body)
        co_return TunnelMap{};
    co_return TunnelDetector::parseNgrokTunnels(*body);
}

QString quickTunnelHostname(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonValue hostname = document.object().value(QLatin1String("hostname"));
    return hostname.isString() ? hostname.toString() : QString();
}

QCoro::Task<std::optional<TunnelDetector::QuickTunnel>> quickTunnelIn(Env env, qint64 metricsPort)
{
    const QCoro::Task<std::optional<QByteArray>> request = fetchLocal(metricsPort, "/quicktunnel");
    const auto body = co_await request;
    if (!body)
        co_return std::nullopt;
    const QString hostname = quickTunnelHostname(*body);
    if (hostname.isEmpty())
        co_return std::nullopt;
    const QFuture<std::optional<qint64>> lookup =
        QtConcurrent::run(&blockingPool(), [env, metricsPort]() -> std::optional<qint64> {
            const auto pid = listenerPIDIn(*env, metricsPort);
            if (!pid)
                return std::nullopt;
            return tunnelTargetPortIn(*env, *pid);
        });
    const std::optional<qint64> target = co_await lookup;
    if (!target)
        co_return std::nullopt;
    co_return TunnelDetector::QuickTunnel{
        *target, TunnelInfo{TunnelInfo::Provider::cloudflare, QStringLiteral("https://") + hostname}};
}

// Stores a probe's finding as soon as it completes; all of this runs on the
// calling thread, so the shared map needs no lock.
QCoro::Task<void> collectQuickTunnel(Env env, qint64 metricsPort, std::shared_ptr<TunnelMap> into)
{
    const QCoro::Task<std::optional<TunnelDetector::QuickTunnel>> probe = quickTunnelIn(env, metricsPort);
    const auto found = co_await probe;
    if (found)
        into->insert(found->first, found->second);
}

QCoro::Task<TunnelMap> cloudflareTunnelsIn(Env env)
{
    const QFuture<bool> agentLookup = QtConcurrent::run(&blockingPool(), [env] {
        if (env->cloudflaredRunning)
            return env->cloudflaredRunning();
        return !env->runner(env->tools.pgrep, {QStringLiteral("-x"), QStringLiteral("cloudflared")},
                            TunnelDetector::toolTimeout)
                    .isEmpty();
    });
    const bool agentRuns = co_await agentLookup;
    if (!agentRuns)
        co_return TunnelMap{};

    const QFuture<TunnelMap> named = QtConcurrent::run(&blockingPool(), [env] {
        const auto text = readConfigFile(env->homeDirectory, cloudflaredConfigFile);
        return text ? TunnelDetector::parseCloudflaredConfig(*text) : TunnelMap{};
    });
    auto quick = std::make_shared<TunnelMap>();
    std::vector<QCoro::Task<void>> probes;
    probes.reserve(env->quickTunnelMetricsPorts.size());
    for (qint64 port : env->quickTunnelMetricsPorts)
        probes.push_back(collectQuickTunnel(env, port, quick));

    TunnelMap result = co_await named;
    for (const QCoro::Task<void>& probe : probes)
        co_await probe;
    for (auto it = quick->cbegin(); it != quick->cend(); ++it)
        result.insert(it.key(), it.value());
    co_return result;
}

QCoro::Task<TunnelMap> detectIn(Env env, qint64 configuredNgrokAPIPort)
{
    // Both halves start now and run side by side.
    const QCoro::Task<TunnelMap> ngrok = ngrokTunnelsIn(env, configuredNgrokAPIPort);
    const QCoro::Task<TunnelMap> cloudflare = cloudflareTunnelsIn(env);
    TunnelMap result = co_await cloudflare;
    const TunnelMap ngrokMap = co_await ngrok;
    for (auto it = ngrokMap.cbegin(); it != ngrokMap.cend(); ++it)
        result.insert(it.key(), it.value());
    co_return result;
}

} // namespace

QString TunnelInfo::providerName(Provider provider)
{
    switch (provider) {
    case Provider::ngrok:
        return QStringLiteral("ngrok");
    case Provider::cloudflare:
        return QStringLiteral("Cloudflare");
    }
    return {};
}

size_t qHash(const TunnelInfo& info, size_t seed) noexcept
{
    return qHashMulti(seed, static_cast<int>(info.provider), info.publicURL);
}

TunnelDetector::Environment TunnelDetector::Environment::system()
{
    Environment env;
    env.homeDirectory = QDir::homePath();
    env.tools = ToolPaths::system();
    env.runner = systemCommandRunner();
    env.defaultNgrokAPIPort = 4040;
#ifdef Q_OS_LINUX
    // A read of /proc rather than a pgrep run each open-panel cycle.
    env.cloudflaredRunning = [] { return procfs::anyProcessNamed(QStringLiteral("cloudflared")); };
#endif
    for (int i = 0; i < quickTunnelMetricsPortCount; ++i)
        env.quickTunnelMetricsPorts.append(firstQuickTunnelMetricsPort + i);
    return env;
}

TunnelDetector::TunnelDetector() : TunnelDetector(Environment::system()) {}

TunnelDetector::TunnelDetector(Environment environment)
    : m_environment(std::make_shared<const Environment>(std::move(environment)))
{
}

// The coroutines get their own reference to the environment, never `this`.
QCoro::Task<TunnelMap> TunnelDetector::detect(qint64 configuredNgrokAPIPort) const
{
    return detectIn(m_environment, configuredNgrokAPIPort);
}

QCoro::Task<TunnelMap> TunnelDetector::ngrokTunnels(qint64 configuredNgrokAPIPort) const
{
    return ngrokTunnelsIn(m_environment, configuredNgrokAPIPort);
}

QCoro::Task<TunnelMap> TunnelDetector::cloudflareTunnels() const
{
    return cloudflareTunnelsIn(m_environment);
}

QCoro::Task<std::optional<TunnelDetector::QuickTunnel>> TunnelDetector::quickTunnel(qint64 metricsPort) const
{
    return quickTunnelIn(m_environment, metricsPort);
}

qint64 TunnelDetector::resolveNgrokAPIPort(qint64 configuredPort) const
{
    return resolveNgrokAPIPortIn(*m_environment, configuredPort);
}

std::optional<qint64> TunnelDetector::listenerPID(qint64 port) const
{
    return listenerPIDIn(*m_environment, port);
}

std::optional<qint64> TunnelDetector::tunnelTargetPort(qint64 pid) const
{
    return tunnelTargetPortIn(*m_environment, pid);
}

std::optional<qint64> TunnelDetector::portFromAddress(const QString& address)
{
    return portAfterLastColon(address);
}

TunnelMap TunnelDetector::parseNgrokTunnels(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonValue tunnels = document.object().value(QLatin1String("tunnels"));
    if (!tunnels.isArray())
        return {};

    // Decode every tunnel first: one malformed entry rejects the whole answer.
    QList<std::pair<QString, QString>> decoded; // public URL, local address
    const QJsonArray array = tunnels.toArray();
    for (const QJsonValue& tunnel : array) {
        if (!tunnel.isObject())
            return {};
        const QJsonObject object = tunnel.toObject();
        const QJsonValue publicURL = object.value(QLatin1String("public_url"));
        const QJsonValue config = object.value(QLatin1String("config"));
        if (!publicURL.isString() || !config.isObject())
            return {};
        const QJsonValue addr = config.toObject().value(QLatin1String("addr"));
        if (!addr.isString())
            return {};
        decoded.append({publicURL.toString(), addr.toString()});
    }

    TunnelMap map;
    for (const auto& [publicURL, addr] : std::as_const(decoded)) {
        const auto port = portFromAddress(addr);
        if (!port)
            continue;
        // Prefer https when the agent exposes one port over both schemes.
        if (!map.contains(*port) || publicURL.startsWith(QLatin1String("https://")))
            map.insert(*port, TunnelInfo{TunnelInfo::Provider::ngrok, publicURL});
    }
    return map;
}

TunnelMap TunnelDetector::parseCloudflaredConfig(const QString& text)
{
    static const QString ingressKey = QStringLiteral("ingress:");
    static const QString hostnameKey = QStringLiteral("hostname:");
    static const QString serviceKey = QStringLiteral("service:");

    TunnelMap map;
    const QList<QStringView> lines = splitLines(text);
    qsizetype index = 0;
    while (index < lines.size() && trimSpacesAndTabs(lines[index]) != ingressKey)
        ++index;
    if (index == lines.size())
        return map;

    std::optional<QString> pendingHost;
    for (++index; index < lines.size(); ++index) {
        const QStringView line = lines[index];
        const QStringView trimmed = trimSpacesAndTabs(line);
        if (trimmed == ingressKey)
            continue;
        const bool inBlock =
            line.startsWith(u' ') || line.startsWith(u'\t') || trimmed.isEmpty() || trimmed.startsWith(u'-');
        if (!inBlock)
            break;

        // A list entry may carry its first key on the dash's line ("- hostname: H").
        QStringView entry = trimmed;
        if (entry.startsWith(u'-'))
            entry = trimSpacesAndTabs(entry.sliced(1));

        if (entry.startsWith(hostnameKey)) {
            const QStringView host = trimSpacesAndTabs(entry.sliced(hostnameKey.size()));
            pendingHost = host.isEmpty() ? std::nullopt : std::optional<QString>(host.toString());
        } else if (entry.startsWith(serviceKey)) {
            if (!pendingHost)
                continue;
            const QStringView service = trimSpacesAndTabs(entry.sliced(serviceKey.size()));
            if (service.contains(QLatin1String("localhost:")) ||
                service.contains(QLatin1String("127.0.0.1:"))) {
                const QList<QStringView> pieces = service.split(u':', Qt::SkipEmptyParts);
                if (!pieces.isEmpty()) {
                    if (const auto port = parseDecimalInteger<qint64>(pieces.constLast()))
                        map.insert(*port, TunnelInfo{TunnelInfo::Provider::cloudflare,
                                                     QStringLiteral("https://") + *pendingHost});
                }
            }
            pendingHost.reset();
        }
    }
    return map;
}

} // namespace varlo
