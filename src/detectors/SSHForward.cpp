#include "detectors/SSHForward.h"

#include <QStringList>

namespace varlo {

std::optional<SSHForward> parseForwardSpec(const QString& spec)
{
    const QStringList pieces = spec.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (pieces.size() == 3)
        return SSHForward{pieces[0], pieces[1], pieces[2]};
    if (pieces.size() == 4)
        return SSHForward{pieces[1], pieces[2], pieces[3]};
    return std::nullopt;
}

QList<SSHForward> sshForwards(const ProcessDetail& detail)
{
    const QStringList words = detail.fullCommand.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    const QString& program = words.constFirst();
    if (program.mid(program.lastIndexOf(QLatin1Char('/')) + 1) != QLatin1String("ssh"))
        return {};

    const QLatin1String flag("-L");
    QList<SSHForward> forwards;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        std::optional<SSHForward> forward;
        if (word == flag) {
            // The forward word is visited again on the next turn; it matches nothing
            // there unless it itself starts with -L.
            if (i + 1 < words.size())
                forward = parseForwardSpec(words[i + 1]);
        } else if (word.startsWith(flag) && word.size() >= 3) {
            forward = parseForwardSpec(word.mid(2));
        }
        if (forward)
            forwards.append(*forward);
    }
    return forwards;
}

} // namespace varlo
