#include "monitor/PortScanner.h"
#include "monitor/BlockingPool.h"

#include "monitor/TextParsing.h"

#include <QRegularExpression>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <optional>
#include <qcoro/qcorofuture.h>

namespace varlo {

namespace {

QList<QStringView> fieldsOf(QStringView line)
{
    return line.split(u' ', Qt::SkipEmptyParts);
}

// Linux lsof reports an unreadable cwd as its /proc link followed by the error,
// e.g. "/proc/1/cwd (readlink: Permission denied)".
bool isLookupError(QStringView name)
{
    static const QRegularExpression errorSuffix(QStringLiteral(R"( \([A-Za-z_]+: [^()]*\)$)"));
    return errorSuffix.match(name).hasMatch();
}

bool isLoopbackHost(const QString& host)
{
    return host == u"127.0.0.1" || host == u"[::1]";
}

CommandResult runTool(const OutcomeRunner& runner, const QString& executable, const QStringList& arguments)
{
    if (executable.isEmpty() || !runner)
        return {};
    return runner(executable, arguments, PortScanner::toolTimeout);
}

std::optional<QList<PortEntry>> scanWith(const ToolPaths& tools, const OutcomeRunner& runner,
                                         bool includeDetails)
{
    const std::optional<QList<PortScanner::Row>> rows =
        PortScanner::readListing(runTool(runner, tools.lsof, PortScanner::listingArguments()));
    if (!rows)
        return std::nullopt;
    QHash<qint64, PortScanner::Process> processes;
    QHash<qint64, QString> workingDirectories;
    if (includeDetails) {
        processes = PortScanner::parseProcessTable(
            runTool(runner, tools.ps, PortScanner::processTableArguments()).output);
        const QList<qint64> pids = PortScanner::pidsOf(*rows);
        if (!pids.isEmpty()) {
            workingDirectories = PortScanner::parseWorkingDirectories(
                runTool(runner, tools.lsof, PortScanner::workingDirectoryArguments(pids)).output);
        }
    }
    return PortScanner::mergeRows(*rows, processes, workingDirectories);
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The byte a backslash escape stands for, or 0 when it is none of lsof's.
char backslashEscape(QChar c)
{
    switch (c.unicode()) {
    case u'\\':
        return '\\';
    case u'b':
        return '\b';
    case u'f':
        return '\f';
    case u'n':
        return '\n';
    case u'r':
        return '\r';
    case u't':
        return '\t';
    default:
        return 0;
    }
}

} // namespace

size_t qHash(const PortScanner::Key& key, size_t seed)
{
    return qHashMulti(seed, key.pid, key.port);
}

PortScanner::PortScanner(ToolPaths tools, OutcomeRunner runner)
    : m_tools(std::move(tools)), m_runner(std::move(runner))
{
}

QCoro::Task<std::optional<QList<PortEntry>>> PortScanner::scan(bool includeDetails)
{
    // The pool thread works on copies, so nothing it touches belongs to this object.
    // The future is a named local: GCC 12 destroys lambda temporaries inside a
    // co_await expression twice.
    QFuture<std::optional<QList<PortEntry>>> future =
        QtConcurrent::run(&blockingPool(), [tools = m_tools, runner = m_runner, includeDetails] {
            return scanWith(tools, runner, includeDetails);
        });
    co_return co_await future;
}

std::optional<QList<PortEntry>> PortScanner::scanBlocking(bool includeDetails) const
{
    return scanWith(m_tools, m_runner, includeDetails);
}

QStringList PortScanner::listingArguments()
{
    return {QStringLiteral("+c0"), QStringLiteral("-i"), QStringLiteral("-P"), QStringLiteral("-n"),
            QStringLiteral("-sTCP:LISTEN")};
}

QStringList PortScanner::processTableArguments()
{
    return {QStringLiteral("-ax"), QStringLiteral("-o"), QStringLiteral("pid=,ppid=,comm=")};
}

QStringList PortScanner::workingDirectoryArguments(const QList<qint64>& pids)
{
    QStringList pidTexts;
    pidTexts.reserve(pids.size());
    for (qint64 pid : pids)
        pidTexts.append(QString::number(pid));
    return {QStringLiteral("-a"), QStringLiteral("-d"), QStringLiteral("cwd"),
            QStringLiteral("-p"), pidTexts.join(u','),  QStringLiteral("-Fn")};
}

std::optional<QList<PortScanner::Row>> PortScanner::readListing(const CommandResult& run)
{
    if (!run.exited() || (run.exitCode != 0 && run.exitCode != 1))
        return std::nullopt;
    if (run.output.isEmpty())
        return QList<Row>{};
    // Whatever lsof lists starts with its header line.
    const QStringView firstLine = QStringView(run.output).left(run.output.indexOf(u'\n'));
    const QList<QStringView> header = fieldsOf(firstLine);
    if (header.isEmpty() || header.constFirst() != u"COMMAND")
        return std::nullopt;
    return parseListing(run.output);
}

QList<PortScanner::Row> PortScanner::parseListing(const QString& text)
{
    QList<Row> rows;
    for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.contains(u"(LISTEN)"))
            continue;
        const QList<QStringView> fields = fieldsOf(line);
        const qsizetype n = fields.size();
        if (n < 10 || fields.constFirst() == u"COMMAND")
            continue;
        // Counted from the end: the command name may itself contain spaces.
        const QStringView name = fields[n - 2];
        const qsizetype colon = name.lastIndexOf(u':');
        if (colon < 0)
            continue;
        const std::optional<qint64> port = parseDecimalInteger<qint64>(name.mid(colon + 1));
        const std::optional<qint64> pid = parseDecimalInteger<qint64>(fields[n - 9]);
        // A pid that is not a real process must never reach a kill.
        if (!port || !pid || *pid <= 0)
            continue;
        QStringList command;
        for (qsizetype i = 0; i <= n - 10; ++i)
            command.append(fields[i].toString());
        rows.append(Row{decodeEscapes(command.join(u' ')), *pid, name.left(colon).toString(), *port,
                        fields[n - 5].toString()});
    }
    return rows;
}

QHash<qint64, PortScanner::Process> PortScanner::parseProcessTable(const QString& text)
{
    QHash<qint64, Process> table;
    for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        const QList<QStringView> fields = fieldsOf(line);
        if (fields.size() < 3)
            continue;
        const std::optional<qint64> pid = parseDecimalInteger<qint64>(fields[0]);
        const std::optional<qint64> ppid = parseDecimalInteger<qint64>(fields[1]);
        if (!pid || !ppid)
            continue;
        QStringList path;
        for (qsizetype i = 2; i < fields.size(); ++i)
            path.append(fields[i].toString());
        table.insert(*pid, Process{path.join(u' '), *ppid});
    }
    return table;
}

QHash<qint64, QString> PortScanner::parseWorkingDirectories(const QString& text)
{
    QHash<qint64, QString> directories;
    std::optional<qint64> current;
    for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'p')) {
            if (const std::optional<qint64> pid = parseDecimalInteger<qint64>(line.mid(1)))
                current = pid;
        } else if (line.startsWith(u'n') && current) {
            const QStringView name = line.mid(1);
            if (name.startsWith(u'/') && !isLookupError(name))
                directories.insert(*current, decodeEscapes(name));
        }
    }
    return directories;
}

QString PortScanner::decodeEscapes(QStringView text)
{
    QByteArray bytes;
    qsizetype plainFrom = 0; // start of the text not yet copied
    const auto escape = [&](qsizetype at, qsizetype length, char byte) {
        bytes += text.sliced(plainFrom, at - plainFrom).toUtf8();
        bytes += byte;
        plainFrom = at + length;
    };
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        const QChar next = text[i + 1];
        if (text[i] == u'\\') {
            if (next == u'x' && i + 3 < text.size() && hexDigit(text[i + 2]) >= 0 &&
                hexDigit(text[i + 3]) >= 0) {
                escape(i, 4, static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3])));
                i += 3;
            } else if (const char byte = backslashEscape(next)) {
                escape(i, 2, byte);
                ++i;
            }
        } else if (text[i] == u'^' && next >= u'A' && next <= u'_') {
            escape(i, 2, static_cast<char>(next.unicode() - 0x40));
            ++i;
        }
    }
    if (plainFrom == 0)
        return text.toString();
    bytes += text.sliced(plainFrom).toUtf8();
    return QString::fromUtf8(bytes);
}

QList<qint64> PortScanner::pidsOf(const QList<Row>& rows)
{
    QList<qint64> pids;
    QSet<qint64> seen;
    for (const Row& row : rows) {
        if (!seen.contains(row.pid)) {
            seen.insert(row.pid);
            pids.append(row.pid);
        }
    }
    return pids;
}

QList<PortEntry> PortScanner::mergeRows(const QList<Row>& rows, const QHash<qint64, Process>& processes,
                                        const QHash<qint64, QString>& workingDirectories)
{
    struct Sockets
    {
        QString command;
        QSet<QString> hosts;
        QSet<QString> devices;
    };
    QList<Key> order;
    QHash<Key, Sockets> byKey;
    for (const Row& row : rows) {
        const Key key{row.pid, row.port};
        auto found = byKey.find(key);
        if (found == byKey.end()) {
            order.append(key);
            found = byKey.insert(key, Sockets{row.command, {}, {}});
        }
        found->hosts.insert(row.host);
        found->devices.insert(row.device);
    }

    QList<PortEntry> entries;
    entries.reserve(order.size());
    for (const Key& key : std::as_const(order)) {
        const Sockets& sockets = byKey[key];
        const auto process = processes.constFind(key.pid);
        const bool loopbackOnly = std::all_of(sockets.hosts.cbegin(), sockets.hosts.cend(), isLoopbackHost);
        PortEntry entry;
        entry.port = key.port;
        entry.pid = key.pid;
        entry.processName = sockets.command;
        entry.binaryPath = process != processes.cend() ? process->path : sockets.command;
        entry.workingDirectory = workingDirectories.value(key.pid);
        entry.proto = Proto::tcp;
        entry.address = loopbackOnly ? Address::localhost : Address::allInterfaces;
        entry.devices = sockets.devices;
        entry.ppid = process != processes.cend() ? process->ppid : 0;
        entries.append(std::move(entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.port < b.port; });
    return entries;
}

} // namespace varlo
