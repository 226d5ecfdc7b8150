#include "app/PanelGeometry.h"

#include <algorithm>

namespace varlo {

namespace {

// Content below this has not been laid out yet.
constexpr int measuredThreshold = 10;

std::optional<ScreenArea> fallbackScreen(const QList<ScreenArea>& screens, int primary)
{
    if (primary >= 0 && primary < screens.size())
        return screens.at(primary);
    if (!screens.isEmpty())
        return screens.constFirst();
    return std::nullopt;
}

std::optional<ScreenArea> screenIntersecting(const QRect& rect, const QList<ScreenArea>& screens, int primary)
{
    for (const ScreenArea& screen : screens) {
        if (screen.frame.intersects(rect))
            return screen;
    }
    return fallbackScreen(screens, primary);
}

} // namespace

std::optional<ScreenArea> screenContaining(const QPoint& point, const QList<ScreenArea>& screens, int primary)
{
    for (const ScreenArea& screen : screens) {
        if (screen.frame.contains(point))
            return screen;
    }
    return fallbackScreen(screens, primary);
}

std::optional<PanelPlacement> placePanel(const QRect& anchor, const QList<ScreenArea>& screens, int primary,
                                         int fittingHeight)
{
    const std::optional<ScreenArea> screen = screenContaining(anchor.center(), screens, primary);
    if (!screen)
        return std::nullopt;
    const QRect area = screen->available;
    const int wanted = fittingHeight < measuredThreshold ? unmeasuredPanelHeight : fittingHeight;
    const int height = std::min(wanted, area.height() / 2);

    int x = anchor.x() + anchor.width() / 2 - panelWidth / 2;
    x = std::min(x, area.x() + area.width() - panelWidth - panelScreenMargin);
    x = std::max(x, area.x() + panelScreenMargin);

    PanelPlacement placement;
    // A panel at the bottom of the screen: open upwards so the panel stays on screen.
    placement.upwards = anchor.center().y() >= screen->frame.y() + screen->frame.height() / 2;
    if (placement.upwards) {
        placement.fixedEdge = anchor.y() - panelGap;
        placement.geometry = QRect(x, placement.fixedEdge - height, panelWidth, height);
    } else {
        placement.fixedEdge = anchor.y() + anchor.height() + panelGap;
        placement.geometry = QRect(x, placement.fixedEdge, panelWidth, height);
    }
    return placement;
}

std::optional<QRect> followContent(const PanelPlacement& placement, const QRect& current,
                                   const QList<ScreenArea>& screens, int primary, int fittingHeight)
{
    if (fittingHeight <= measuredThreshold)
        return std::nullopt;
    const std::optional<ScreenArea> screen = screenIntersecting(current, screens, primary);
    if (!screen)
        return std::nullopt;
    const int height = std::min(fittingHeight, screen->available.height() / 2);
    if (height == current.height())
        return std::nullopt;
    const int y = placement.upwards ? placement.fixedEdge - height : placement.fixedEdge;
    return QRect(current.x(), y, current.width(), height);
}

} // namespace varlo
