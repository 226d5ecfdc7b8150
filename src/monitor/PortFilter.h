#pragma once

#include "monitor/PortEntry.h"

#include <QList>
#include <QString>

namespace varlo {

class AppSettings;

// Keeps the entries whose port lies in the user's monitored range and is not excluded.
class PortFilter
{
public:
    struct Range
    {
        qint64 low = 0;
        qint64 high = 0;
        bool operator==(const Range&) const = default;
    };

    // Comma-separated ports and low-high ranges; invalid pieces are dropped.
    static QList<Range> parseRanges(const QString& expression);
    // Valid for the user: not empty and at least one range parses.
    static bool isValidExpression(const QString& expression);

    QList<PortEntry> apply(const QList<PortEntry>& entries, const AppSettings& settings) const;
};

} // namespace varlo
