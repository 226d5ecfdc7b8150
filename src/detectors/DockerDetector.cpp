#include "detectors/DockerDetector.h"
#include "monitor/BlockingPool.h"

#include "monitor/ToolPaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>
#include <pwd.h>
#include <qcoro/qcorofuture.h>
#include <unistd.h>
#include <vector>

namespace varlo {

namespace {

// The platform's user-name query, not the home folder.
QString loginName()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_name)
        return QString::fromLocal8Bit(result->pw_name);
    return qEnvironmentVariable("USER");
}

bool isOptionLike(const QString& name)
{
    return name.startsWith(QLatin1Char('-'));
}

} // namespace

const QString DockerDetector::listFormat = QStringLiteral(
    "{{.Names}}\t{{.Image}}\t{{.Status}}\t{{.Ports}}\t{{.Label \"com.docker.compose.project\"}}");

DockerDetector::DockerDetector() : DockerDetector(systemCandidates(), systemOutcomeRunner()) {}

DockerDetector::DockerDetector(QStringList candidates, OutcomeRunner runner, std::function<qint64()> clock)
    : m_candidates(std::move(candidates)), m_runner(std::move(runner)), m_clock(std::move(clock)),
      m_backOff(std::make_shared<RetryBackOff>(firstRetryMs, longestRetryMs))
{
}

qint64 DockerDetector::monotonicMs()
{
    static const QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed();
}

QStringList DockerDetector::candidatePaths(const QString& loginName, const QString& homePath)
{
    QStringList paths{QStringLiteral("/usr/local/bin/docker"), QStringLiteral("/opt/homebrew/bin/docker")};
    if (!loginName.isEmpty())
        paths << QStringLiteral("/Users/") + loginName + QStringLiteral("/.docker/bin/docker");
#ifndef Q_OS_MACOS
    paths << QStringLiteral("/usr/bin/docker") << QStringLiteral("/snap/bin/docker");
    if (!homePath.isEmpty())
        paths << QDir(homePath).filePath(QStringLiteral(".docker/bin/docker"));
#else
    Q_UNUSED(homePath);
#endif
    paths.removeDuplicates();
    return paths;
}

const QStringList& DockerDetector::systemCandidates()
{
    static const QStringList candidates = candidatePaths(loginName(), QDir::homePath());
    return candidates;
}

QString DockerDetector::dockerPath() const
{
    return ToolPaths::firstExecutable(m_candidates);
}

QList<qint64> DockerDetector::publishedPorts(const QString& portsText)
{
    // Built per call: a shared QRegularExpression is not safe to match from
    // several worker threads at once. Docker prints consecutive published
    // ports as one range, "0.0.0.0:8000-8002->8000-8002/tcp".
    const QRegularExpression hostPorts(QStringLiteral(":([0-9]+)(?:-([0-9]+))?->"));
    QList<qint64> ports;
    const QStringList pieces = portsText.split(QStringLiteral(", "));
    for (const QString& piece : pieces) {
        const QRegularExpressionMatch match = hostPorts.match(piece);
        if (!match.hasMatch())
            continue;
        bool firstOk = false;
        const qint64 first = match.captured(1).toLongLong(&firstOk);
        bool lastOk = true;
        const qint64 last = match.hasCaptured(2) ? match.captured(2).toLongLong(&lastOk) : first;
        // A reversed or overflowing range, or one longer than any sane
        // publication, is not Docker's output: it gives nothing.
        if (!firstOk || !lastOk || last < first || last - first >= maxRangeLength)
            continue;
        for (qint64 port = first; port <= last; ++port)
            ports.append(port);
    }
    return ports;
}

DockerContainers DockerDetector::parseContainerList(const QString& output)
{
    DockerContainers containers;
    const QStringList lines = output.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
        if (fields.size() < 4)
            continue;
        DockerInfo info{fields[0], fields[1], fields[2], std::nullopt};
        if (fields.size() >= 5 && !fields[4].isEmpty())
            info.composeProject = fields[4];
        const QList<qint64> ports = publishedPorts(fields[3]);
        for (qint64 port : ports)
            containers.insert(port, info);
    }
    return containers;
}

QCoro::Task<DockerContainers> DockerDetector::detect() const
{
    if (!m_backOff->mayTry(m_clock()))
        co_return DockerContainers();
    // Everything the worker needs is copied: the detector may be gone before it
    // finishes. A named future: GCC 12 destroys temporaries inside a co_await
    // operand twice.
    QFuture<std::optional<QString>> listing =
        QtConcurrent::run(&blockingPool(), [candidates = m_candidates, runner = m_runner]() -> std::optional<QString> {
            const QString docker = ToolPaths::firstExecutable(candidates);
            if (docker.isEmpty())
                return std::nullopt;
            const QStringList arguments{QStringLiteral("ps"), QStringLiteral("--no-trunc"),
                                        QStringLiteral("--format"), listFormat};
            const CommandResult run = runner(docker, arguments, listTimeout);
            if (!run.exited() || run.exitCode != 0)
                return std::nullopt;
            return run.output;
        });
    const std::shared_ptr<RetryBackOff> backOff = m_backOff;
    const std::function<qint64()> clock = m_clock;
    const std::optional<QString> output = co_await listing;
    if (!output) {
        backOff->failed(clock());
        co_return DockerContainers();
    }
    backOff->succeeded();
    co_return parseContainerList(*output);
}

QCoro::Task<bool> DockerDetector::stopContainer(const QString& containerName) const
{
    // Docker never names a container with a leading dash, so such text is
    // refused outright, on top of the "--" that ends the client's options.
    if (containerName.isEmpty() || isOptionLike(containerName))
        co_return false;
    QFuture<bool> stopped = QtConcurrent::run(&blockingPool(), [candidates = m_candidates, runner = m_runner, containerName] {
        const QString docker = ToolPaths::firstExecutable(candidates);
        if (docker.isEmpty())
            return false;
        // "--" ends the options, so the name is always taken as a name.
        const QStringList arguments{QStringLiteral("stop"), QStringLiteral("--time"), QStringLiteral("3"),
                                    QStringLiteral("--"), containerName};
        const QString output = runner(docker, arguments, stopTimeout).output;
        // The client echoes each stopped name on a line of its own. Any other
        // output (recent clients print a deprecation notice for --time on
        // standard output) is no confirmation.
        return output.split(QRegularExpression(QStringLiteral("\r\n|\r|\n"))).contains(containerName);
    });
    co_return co_await stopped;
}

} // namespace varlo
