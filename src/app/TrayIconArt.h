#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>
#include <optional>

namespace varlo {

// The sizes tray hosts ask for, each also painted at twice the density.
inline const QList<int> trayIconSizes{16, 22, 24, 32, 48};

// The badge's text: none below 1, "99+" where more digits would not fit.
QString badgeText(qint64 count);

// The wheel in black over a white halo, so it reads on light and dark panels
// alike, with the count as a red badge in the lower right corner.
QImage renderTrayIcon(int size, qreal devicePixelRatio, qint64 count);
QIcon trayIcon(qint64 count);

// The menu-bar title rule: the text for a count, and when to redraw.
class TrayTitle
{
public:
    // " 12" for 12, empty below 1.
    static QString title(qint64 count);
    static QString toolTip(qint64 count);

    // True when `count` differs from the last one written (or none was);
    // an unchanged count repaints nothing.
    bool update(qint64 count);
    std::optional<qint64> lastCount() const { return m_last; }

private:
    std::optional<qint64> m_last;
};

} // namespace varlo
