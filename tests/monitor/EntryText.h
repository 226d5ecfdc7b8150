#pragma once

#include "monitor/PortEntry.h"

#include <QStringList>

namespace varlo::test {

inline PortEntry entry(qint64 port, qint64 pid, qint64 ppid = 0, QSet<QString> devices = {})
{
    PortEntry e;
    e.port = port;
    e.pid = pid;
    e.ppid = ppid;
    e.devices = std::move(devices);
    return e;
}

// "port pid name|path|cwd|lo-or-all|devices|ppid|user": every field but the id.
inline QString entryText(const PortEntry& e, bool withPath = true)
{
    QStringList devices(e.devices.cbegin(), e.devices.cend());
    devices.sort();
    return QStringLiteral("%1 %2 %3|%4|%5|%6|%7|%8|%9")
        .arg(e.port)
        .arg(e.pid)
        .arg(e.processName, withPath ? e.binaryPath : QString(), e.workingDirectory,
             e.address == Address::localhost ? QStringLiteral("lo") : QStringLiteral("all"),
             devices.join(u','))
        .arg(e.ppid)
        .arg(e.userName);
}

// Sorted texts of the entries on `ports` (all when empty): one port's entries come in no set order.
inline QStringList entryTexts(const std::optional<QList<PortEntry>>& entries,
                              const QList<quint16>& ports = {}, bool withPath = true)
{
    QStringList lines;
    for (const PortEntry& e : entries.value_or(QList<PortEntry>{})) {
        if (ports.isEmpty() || ports.contains(quint16(e.port)))
            lines << entryText(e, withPath);
    }
    lines.sort();
    return lines;
}

} // namespace varlo::test
