#pragma once

#include <QString>
#include <QtGlobal>

namespace varlo {

// "42s", "5m 3s", "3h 12m", "2d 4h": the two largest units, integer division.
QString compactDuration(qint64 seconds);

// "59s ago", "1m ago", "1h ago", "1d ago": the largest unit only.
QString agoText(qint64 seconds);

} // namespace varlo
