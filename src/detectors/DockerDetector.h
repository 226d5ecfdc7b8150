#pragma once

#include "detectors/RetryBackOff.h"
#include "monitor/CommandRunner.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

// One published host port of a running container.
struct DockerInfo
{
    QString containerName;
    QString image;
    QString status;
    std::optional<QString> composeProject; // absent when the label is missing or empty

    bool operator==(const DockerInfo&) const = default;
};

// Host port → the container publishing it.
using DockerContainers = QHash<qint64, DockerInfo>;

// Asks the Docker client which running containers publish which host ports,
// and stops containers by name. A client that failed is asked again only
// after a pause that grows while it keeps failing.
class DockerDetector
{
public:
    // The system's candidate locations and the real command runner.
    DockerDetector();
    // Tests inject where the client may live, how it is run and the clock (ms).
    DockerDetector(QStringList candidates, OutcomeRunner runner,
                   std::function<qint64()> clock = &DockerDetector::monotonicMs);

    // Empty when the client is absent, the daemon is down, the listing times
    // out or nothing is published. Call on the main thread.
    QCoro::Task<DockerContainers> detect() const;
    // True when the client confirmed the stop by echoing the name.
    QCoro::Task<bool> stopContainer(const QString& containerName) const;

    // The first candidate that is an executable file; empty when none is.
    QString dockerPath() const;

    // Host ports of one `Ports` column, in order, duplicates kept; a range
    // "a-b->" gives every port from a to b.
    static QList<qint64> publishedPorts(const QString& portsText);
    // Parses the whole `docker ps` output produced with `listFormat`.
    static DockerContainers parseContainerList(const QString& output);

    // Where the client is looked for, in order. `loginName` feeds the macOS
    // home-folder form, `homePath` the Linux one.
    static QStringList candidatePaths(const QString& loginName, const QString& homePath);
    // candidatePaths() for the current user, built once per process.
    static const QStringList& systemCandidates();

    // The Go template of the listing: five fields separated by TAB characters.
    static const QString listFormat;
    static constexpr double listTimeout = 4.0;
    static constexpr double stopTimeout = 8.0;
    // The longest host-port range taken from a listing.
    static constexpr qint64 maxRangeLength = 1024;
    // The pauses before asking a failing client again.
    static constexpr qint64 firstRetryMs = 8000;
    static constexpr qint64 longestRetryMs = 120000;

    static qint64 monotonicMs();

private:
    QStringList m_candidates;
    OutcomeRunner m_runner;
    std::function<qint64()> m_clock;
    std::shared_ptr<RetryBackOff> m_backOff;
};

} // namespace varlo
