#pragma once

#include "monitor/CommandRunner.h"
#include "monitor/PortEntry.h"
#include "monitor/PortSource.h"
#include "monitor/ToolPaths.h"

#include <QHash>
#include <QList>
#include <QString>

namespace varlo {

// Finds the processes listening on TCP ports by running lsof (and, for the
// details, ps and a second lsof) and merging what they print.
class PortScanner : public PortSource
{
public:
    // One parsed line of the lsof listing.
    struct Row
    {
        QString command;
        qint64 pid = 0;
        QString host;
        qint64 port = 0;
        QString device;
        bool operator==(const Row&) const = default;
    };

    // The merge key: the sockets of one process on one port become one entry.
    struct Key
    {
        qint64 pid = 0;
        qint64 port = 0;
        bool operator==(const Key&) const = default;
    };

    // One line of the process table.
    struct Process
    {
        QString path;
        qint64 ppid = 0;
        bool operator==(const Process&) const = default;
    };

    static constexpr double toolTimeout = 8.0;

    explicit PortScanner(ToolPaths tools = ToolPaths::system(), OutcomeRunner runner = systemOutcomeRunner());

    // Runs scanBlocking on a pool thread.
    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool includeDetails) override;
    // Blocks for up to three tool runs; never call it on the main thread.
    // Nothing when the listing failed; the detail lookups only add to it.
    std::optional<QList<PortEntry>> scanBlocking(bool includeDetails) const;

    static QStringList listingArguments();
    static QStringList processTableArguments();
    static QStringList workingDirectoryArguments(const QList<qint64>& pids);

    // The rows of a listing run, or nothing when the run failed: lsof exits 1
    // with no output when nothing listens, but a run that did not end by
    // itself, another status or output that is not a listing is a failure.
    static std::optional<QList<Row>> readListing(const CommandResult& run);
    // Rows of `lsof +c0 -i -P -n -sTCP:LISTEN` output; malformed lines are skipped.
    static QList<Row> parseListing(const QString& text);
    // pid -> (command path, parent pid) from `ps -ax -o pid=,ppid=,comm=`.
    static QHash<qint64, Process> parseProcessTable(const QString& text);
    // pid -> working directory from `lsof -a -d cwd -p ... -Fn`.
    static QHash<qint64, QString> parseWorkingDirectories(const QString& text);
    // lsof's printable form of a name back to the name: \\, \b, \f, \n, \r, \t,
    // \xNN and ^A..^_ become the bytes they stand for, read as UTF-8.
    static QString decodeEscapes(QStringView text);
    // The distinct pids of `rows`, in order of first appearance.
    static QList<qint64> pidsOf(const QList<Row>& rows);
    // One entry per (pid, port), sorted by port.
    static QList<PortEntry> mergeRows(const QList<Row>& rows, const QHash<qint64, Process>& processes,
                                      const QHash<qint64, QString>& workingDirectories);

private:
    ToolPaths m_tools;
    OutcomeRunner m_runner;
};

size_t qHash(const PortScanner::Key& key, size_t seed = 0);

} // namespace varlo
