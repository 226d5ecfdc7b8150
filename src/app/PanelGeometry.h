#pragma once

#include <QList>
#include <QRect>
#include <optional>

namespace varlo {

// One screen: its whole frame and the part panels and docks leave free.
struct ScreenArea
{
    QRect frame;
    QRect available;

    bool operator==(const ScreenArea&) const = default;
};

// Where the panel sits and which edge stays put while it follows its content.
struct PanelPlacement
{
    QRect geometry;
    int fixedEdge = 0; // the top edge, or the bottom edge when it opens upwards
    bool upwards = false;

    bool operator==(const PanelPlacement&) const = default;
};

inline constexpr int panelWidth = 360;
inline constexpr int panelGap = 6;         // between the tray icon and the panel
inline constexpr int panelScreenMargin = 8; // kept from the screen's sides
inline constexpr int unmeasuredPanelHeight = 200;

// The screen that holds `point`; else the primary one; else the first; else none.
std::optional<ScreenArea> screenContaining(const QPoint& point, const QList<ScreenArea>& screens,
                                           int primary);

// The panel under (or, for an icon in the lower half of its screen, above) `anchor`,
// centred on it, `fittingHeight` tall up to half the free height of the screen.
std::optional<PanelPlacement> placePanel(const QRect& anchor, const QList<ScreenArea>& screens, int primary,
                                         int fittingHeight);

// The geometry that follows a new content height, or nullopt when nothing should move.
std::optional<QRect> followContent(const PanelPlacement& placement, const QRect& current,
                                   const QList<ScreenArea>& screens, int primary, int fittingHeight);

} // namespace varlo
