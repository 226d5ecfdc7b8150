#include "process/ProcessInspector.h"
#include "monitor/BlockingPool.h"

#include "monitor/TextParsing.h"

#include <QStringList>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <qcoro/qcorofuture.h>
#include <utility>

namespace varlo {

ProcessInspector::ProcessInspector(ToolPaths tools, CommandRunner runner)
    : m_tools(std::move(tools)), m_runner(std::move(runner))
{
    if (!m_runner)
        m_runner = systemCommandRunner();
}

QCoro::Task<std::optional<ProcessDetail>> ProcessInspector::detail(qint64 pid) const
{
    // A non-positive value would reach `ps` as an option or a session selector.
    if (pid <= 0)
        co_return std::nullopt;
    // The worker gets its own copies: the inspector may be gone before it runs.
    const QStringList arguments{QStringLiteral("-p"), QString::number(pid), QStringLiteral("-o"),
                                QStringLiteral("%cpu=,rss=,etime=,command=")};
    // Named: GCC 12 destroys a lambda temporary inside a co_await operand twice.
    QFuture<std::optional<ProcessDetail>> parsed =
        QtConcurrent::run(&blockingPool(), [ps = m_tools.ps, runner = m_runner, arguments] {
            return parseDetail(runner(ps, arguments, timeoutSeconds));
        });
    co_return co_await parsed;
}

std::optional<ProcessDetail> ProcessInspector::parseDetail(const QString& output)
{
    const QStringList pieces = output.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.size() < 3)
        return std::nullopt;

    // QString::toDouble always reads the C locale, so "12,5" fails whatever the
    // user's locale; it would also skip surrounding white space such as tabs.
    const QString& cpuText = pieces.at(0);
    if (cpuText.front().isSpace() || cpuText.back().isSpace())
        return std::nullopt;
    bool cpuOk = false;
    const double cpu = cpuText.toDouble(&cpuOk);
    // A NaN would make the detail unequal to itself and re-notify forever.
    if (!cpuOk || !std::isfinite(cpu))
        return std::nullopt;

    const std::optional<qint64> rssKiB = parseDecimalInteger<qint64>(pieces.at(1));
    qint64 memoryBytes = 0;
    if (!rssKiB || __builtin_mul_overflow(*rssKiB, qint64(1024), &memoryBytes))
        return std::nullopt;

    ProcessDetail detail;
    detail.cpuPercent = cpu;
    detail.memoryBytes = memoryBytes;
    detail.uptimeSeconds = elapsedSeconds(pieces.at(2));
    detail.fullCommand = pieces.mid(3).join(QLatin1Char(' '));
    return detail;
}

qint64 ProcessInspector::elapsedSeconds(const QString& etime)
{
    qint64 days = 0;
    QStringView clock = etime;
    if (const qsizetype dash = etime.indexOf(QLatin1Char('-')); dash >= 0) {
        days = parseDecimalInteger<qint64>(clock.left(dash)).value_or(0);
        clock = clock.mid(dash + 1);
    }

    QList<qint64> values;
    for (QStringView piece : clock.split(QLatin1Char(':'))) {
        if (const auto value = parseDecimalInteger<qint64>(piece))
            values.append(*value);
    }
    qint64 hours = 0;
    qint64 minutes = 0;
    qint64 seconds = 0;
    switch (values.size()) {
    case 1:
        seconds = values.at(0);
        break;
    case 2:
        minutes = values.at(0);
        seconds = values.at(1);
        break;
    case 3:
        hours = values.at(0);
        minutes = values.at(1);
        seconds = values.at(2);
        break;
    default:
        break;
    }

    // Figures no clock can reach count as unreadable rather than wrapping round.
    qint64 total = 0;
    qint64 part = 0;
    if (__builtin_mul_overflow(days, qint64(86400), &total) ||
        __builtin_mul_overflow(hours, qint64(3600), &part) || __builtin_add_overflow(total, part, &total) ||
        __builtin_mul_overflow(minutes, qint64(60), &part) || __builtin_add_overflow(total, part, &total) ||
        __builtin_add_overflow(total, seconds, &total))
        return 0;
    return total;
}

QString ProcessInspector::uptimeText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1m %2s").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 86400)
        return QStringLiteral("%1h %2m").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return QStringLiteral("%1d %2h").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

} // namespace varlo
