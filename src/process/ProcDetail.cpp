#include "process/ProcDetail.h"

#include "monitor/BlockingPool.h"

#include <QFile>
#include <QStringList>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <qcoro/qcorofuture.h>
#include <unistd.h>

namespace varlo {

namespace {

std::optional<quint64> number(const QByteArray& text)
{
    bool ok = false;
    const quint64 value = text.toULongLong(&ok);
    if (!ok || text.isEmpty() || !std::isdigit(static_cast<unsigned char>(text.front())))
        return std::nullopt;
    return value;
}

std::optional<QByteArray> readAll(const QString& path)
{
    QFile file(path);
    // /proc files report size 0: read until the end, bounded.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    QByteArray text = file.read(1 << 20);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return text;
}

} // namespace

std::optional<ProcessDetail> ProcDetail::parse(const QByteArray& stat, const QByteArray& cmdline, const Units& units)
{
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open || units.ticksPerSecond <= 0 || units.pageSize <= 0)
        return std::nullopt;
    // After the name: utime is field 11, stime 12, starttime 19, rss 21 (state is 0).
    const QList<QByteArray> fields = stat.mid(close + 2).trimmed().split(' ');
    if (fields.size() < 22)
        return std::nullopt;
    const auto utime = number(fields[11]);
    const auto stime = number(fields[12]);
    const auto start = number(fields[19]);
    const auto rssPages = number(fields[21]);
    if (!utime || !stime || !start || !rssPages || *rssPages > quint64(1) << 40)
        return std::nullopt;

    ProcessDetail detail;
    const double startSeconds = double(*start) / double(units.ticksPerSecond);
    const double running = std::max(0.0, units.uptimeSeconds - startSeconds);
    detail.uptimeSeconds = qint64(running);
    if (detail.uptimeSeconds > 0) {
        const double cpuSeconds = double(*utime + *stime) / double(units.ticksPerSecond);
        detail.cpuPercent = std::floor(cpuSeconds * 1000.0 / double(detail.uptimeSeconds)) / 10.0;
    }
    detail.memoryBytes = qint64(*rssPages) * units.pageSize;

    QStringList words;
    for (const QByteArray& argument : cmdline.split('\0'))
        words.append(QString::fromUtf8(argument).split(u' ', Qt::SkipEmptyParts));
    detail.fullCommand = words.isEmpty()
                             ? u'[' + QString::fromUtf8(stat.mid(open + 1, close - open - 1)) + u']'
                             : words.join(u' ');
    return detail;
}

std::optional<ProcessDetail> ProcDetail::readBlocking(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    const std::optional<QByteArray> stat = readAll(base + QStringLiteral("stat"));
    const std::optional<QByteArray> cmdline = readAll(base + QStringLiteral("cmdline"));
    const std::optional<QByteArray> uptime = readAll(QStringLiteral("/proc/uptime"));
    if (!stat || !cmdline || !uptime)
        return std::nullopt;
    bool ok = false;
    Units units;
    units.uptimeSeconds = uptime->split(' ').constFirst().toDouble(&ok);
    units.ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    units.pageSize = ::sysconf(_SC_PAGESIZE);
    if (!ok)
        return std::nullopt;
    return parse(*stat, *cmdline, units);
}

QCoro::Task<std::optional<ProcessDetail>> ProcDetail::read(qint64 pid)
{
    QFuture<std::optional<ProcessDetail>> future =
        QtConcurrent::run(&blockingPool(), [pid] { return readBlocking(pid); });
    co_return co_await future;
}

} // namespace varlo
