#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <vector>

namespace varlo::bench {

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
