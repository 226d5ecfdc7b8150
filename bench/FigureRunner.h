#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <vector>

namespace varlo::bench {

// Resident memory of a process (this one by default) in MiB, or -1 when unreadable.
inline double residentMiB(const QString& pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

struct Figure
{
    const char* name;
    std::function<void()> run;
};

// Runs each figure whose name contains one of the arguments (all without
// arguments) in a fresh process, so memory and CPU figures do not carry what
// an earlier figure left behind. The child is this program with "--only NAME".
inline int runFigures(const std::vector<Figure>& figures)
{
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 2 && arguments[0] == QStringLiteral("--only")) {
        for (const Figure& figure : figures) {
            if (arguments[1] == QLatin1String(figure.name))
                figure.run();
        }
        return 0;
    }
    for (const Figure& figure : figures) {
        const QString name = QString::fromLatin1(figure.name);
        const bool wanted =
            arguments.isEmpty() || std::any_of(arguments.cbegin(), arguments.cend(),
                                               [&](const QString& part) { return name.contains(part); });
        if (!wanted)
            continue;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--only"), name});
        child.waitForFinished(-1);
    }
    return 0;
}

} // namespace varlo::bench
