#include "process/ProcessDetail.h"

#include "monitor/HomeFolder.h"

#include <QHashFunctions>
#include <QStringList>

namespace varlo {

QString ProcessDetail::argumentsSummary(const QString& homePath) const
{
    const QStringList words = fullCommand.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() <= 1)
        return {};
    return abbreviateHomeFolder(words.mid(1).join(QLatin1Char(' ')), homePath, false);
}

size_t qHash(const ProcessDetail& detail, size_t seed)
{
    return qHashMulti(seed, detail.cpuPercent, detail.memoryBytes, detail.uptimeSeconds, detail.fullCommand);
}

} // namespace varlo
