#pragma once

#include "monitor/CommandRunner.h"
#include "monitor/ToolPaths.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <utility>

namespace varlo {

// A public URL that forwards to a local port, and the agent that provides it.
struct TunnelInfo
{
    enum class Provider
    {
        ngrok,
        cloudflare,
    };

    Provider provider = Provider::ngrok;
    QString publicURL;

    // The provider's raw value, which is also its display name.
    static QString providerName(Provider provider);

    friend bool operator==(const TunnelInfo&, const TunnelInfo&) = default;
};

size_t qHash(const TunnelInfo& info, size_t seed = 0) noexcept;

// Local port -> tunnel forwarding to it.
using TunnelMap = QMap<qint64, TunnelInfo>;

// Finds ngrok and Cloudflare tunnels that forward to local ports. Failures of
// the agents, files or tools only make the maps smaller; nothing throws.
//
// The asynchronous operations must be started on a thread with an event loop
// (the main thread): their HTTP requests (LoopbackHttpGet) run on that thread,
// their file reads and tool runs on the global thread pool. They keep what they need alive
// themselves, so the detector may be destroyed while they run.
class TunnelDetector
{
public:
    // Everything taken from the machine, so tests can substitute it.
    struct Environment
    {
        QString homeDirectory;
        ToolPaths tools;
        CommandRunner runner;
        qint64 defaultNgrokAPIPort = 4040;
        QList<qint64> quickTunnelMetricsPorts;
        // Whether a cloudflared process runs; when unset, `pgrep` is asked.
        std::function<bool()> cloudflaredRunning;

        // The current user's home, the resolved tools and the agents' usual ports.
        static Environment system();
    };

    // A quick tunnel: the local port it forwards to and its public URL.
    using QuickTunnel = std::pair<qint64, TunnelInfo>;

    // Longest wait for one local HTTP answer.
    static constexpr int httpLimitMs = 1000;
    // Larger agent answers (status line, headers and body) are not what we
    // asked for and count as failures.
    static constexpr qint64 maxAnswerBytes = 1024 * 1024;
    // Larger configuration files are skipped.
    static constexpr qint64 maxConfigBytes = 1024 * 1024;
    static constexpr double toolTimeout = 8.0;

    TunnelDetector();
    explicit TunnelDetector(Environment environment);

    // Both providers; ngrok wins where both forward the same port.
    QCoro::Task<TunnelMap> detect(qint64 configuredNgrokAPIPort) const;

    QCoro::Task<TunnelMap> ngrokTunnels(qint64 configuredNgrokAPIPort) const;
    QCoro::Task<TunnelMap> cloudflareTunnels() const;
    QCoro::Task<std::optional<QuickTunnel>> quickTunnel(qint64 metricsPort) const;

    // These block on file reads or tool runs: keep them off the main thread.
    qint64 resolveNgrokAPIPort(qint64 configuredPort) const;
    std::optional<qint64> listenerPID(qint64 port) const;
    std::optional<qint64> tunnelTargetPort(qint64 pid) const;

    static std::optional<qint64> portFromAddress(const QString& address);
    static TunnelMap parseCloudflaredConfig(const QString& text);
    // The tunnels of an ngrok agent API answer; any deviation from the expected shape gives none.
    static TunnelMap parseNgrokTunnels(const QByteArray& body);

private:
    std::shared_ptr<const Environment> m_environment;
};

} // namespace varlo
