#include "monitor/PortFilter.h"

#include "monitor/TextParsing.h"
#include "settings/AppSettings.h"

#include <QSet>
#include <optional>

namespace varlo {

namespace {

std::optional<PortFilter::Range> parsePiece(QStringView rawPiece)
{
    const QStringView piece = trimSpacesAndTabs(rawPiece);
    if (piece.isEmpty())
        return std::nullopt;
    const qsizetype dash = piece.indexOf(u'-');
    if (dash < 0) {
        const auto port = parseDecimalInteger<qint64>(piece);
        if (!port)
            return std::nullopt;
        return PortFilter::Range{*port, *port};
    }
    const QStringView left = trimSpacesAndTabs(piece.left(dash));
    const QStringView right = trimSpacesAndTabs(piece.mid(dash + 1));
    if (left.isEmpty() || right.isEmpty())
        return std::nullopt;
    const auto low = parseDecimalInteger<qint64>(left);
    const auto high = parseDecimalInteger<qint64>(right);
    if (!low || !high || *high < *low)
        return std::nullopt;
    return PortFilter::Range{*low, *high};
}

} // namespace

QList<PortFilter::Range> PortFilter::parseRanges(const QString& expression)
{
    QList<Range> ranges;
    for (QStringView piece : QStringView(expression).split(u',', Qt::SkipEmptyParts)) {
        if (auto range = parsePiece(piece))
            ranges.append(*range);
    }
    return ranges;
}

bool PortFilter::isValidExpression(const QString& expression)
{
    return !expression.isEmpty() && !parseRanges(expression).isEmpty();
}

QList<PortEntry> PortFilter::apply(const QList<PortEntry>& entries, const AppSettings& settings) const
{
    const QList<Range> ranges = parseRanges(settings.monitoredRange());
    const QList<qint64> excludedList = settings.excludedPorts();
    const QSet<qint64> excluded(excludedList.cbegin(), excludedList.cend());

    QList<PortEntry> kept;
    for (const PortEntry& entry : entries) {
        if (excluded.contains(entry.port))
            continue;
        const bool inRange = std::any_of(ranges.cbegin(), ranges.cend(), [&](const Range& range) {
            return range.low <= entry.port && entry.port <= range.high;
        });
        if (inRange)
            kept.append(entry);
    }
    return kept;
}

} // namespace varlo
