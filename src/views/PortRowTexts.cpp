#include "views/PortRowTexts.h"

#include <QCoreApplication>
#include <QLocale>

namespace varlo {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("PortRowView", text);
}

// `value` with `decimals` decimals, a point as separator, trailing zeros dropped.
QString trimmed(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

} // namespace

bool isUnattributed(const PortGroup& group)
{
    return group.primary().pid <= 0;
}

namespace rowtext {

QString subtitle(const PortGroup& group, const QString& homePath)
{
    const PortEntry& primary = group.primary();
    if (isUnattributed(group)) {
        return primary.userName.isEmpty() ? tr("Owned by another user")
                                          : tr("Owned by %1").arg(primary.userName);
    }
    QString text = primary.displayPath(homePath) + QStringLiteral(" \u00b7 PID ");
    if (group.members.size() < 2 || !group.primaryPID)
        return text + QString::number(primary.pid);
    return text + QString::number(*group.primaryPID) + QStringLiteral(" +") +
           QString::number(group.members.size() - 1);
}

QString killToolTip(const PortGroup& group)
{
    if (group.members.size() < 2)
        return tr("Terminate process (PID %1)").arg(group.primary().pid);
    return tr("Free port :%1 \u2014 terminate all %2 processes").arg(group.port).arg(group.members.size());
}

QString sharedToolTip(qint64 port)
{
    return tr("Port :%1 is held by other unrelated processes too. ").arg(port) +
           tr("Kill affects only this one.");
}

QString cpuText(double percent)
{
    return QString::asprintf("%.1f%%", percent);
}

QString memoryText(qint64 bytes)
{
    constexpr double mebibyte = 1024.0 * 1024.0;
    constexpr double gibibyte = mebibyte * 1024.0;
    const double value = double(std::max<qint64>(bytes, 0));
    if (value >= gibibyte)
        return trimmed(value / gibibyte, 2) + QStringLiteral(" GB");
    return trimmed(value / mebibyte, 1) + QStringLiteral(" MB");
}

QString tunnelDisplayURL(const QString& publicURL)
{
    QString text = publicURL;
    text.remove(QStringLiteral("https://"));
    text.remove(QStringLiteral("http://"));
    return text;
}

QString killAllTitle(qsizetype groups)
{
    return QStringLiteral("Kill all %1 process%2?").arg(groups).arg(groups == 1 ? QString() : QStringLiteral("es"));
}

} // namespace rowtext

} // namespace varlo
