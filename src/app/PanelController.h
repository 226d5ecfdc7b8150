#pragma once

#include "app/MenuBarPanel.h"
#include "app/PanelGeometry.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <functional>

class QScreen;
#include <optional>

namespace varlo {

class PortMonitor;

// Opens, closes and sizes the panel; the panel is made once and reused.
class PanelController : public QObject
{
    Q_OBJECT

public:
    // The rectangle the panel hangs from: the tray icon, or a point at the pointer.
    using AnchorSource = std::function<QRect()>;

    PanelController(PortMonitor& monitor, QWidget* content, QObject* parent = nullptr);
    ~PanelController() override;

    void setAnchorSource(AnchorSource source) { m_anchor = std::move(source); }
    // Where there is no tray the panel is an ordinary window; `true` shows it.
    void setWindowMode(bool windowMode);
    // While a question is up nothing opens the panel, and a floating panel
    // (which as a popup would take the question's clicks) closes.
    void setBlocked(bool blocked);
    // Closes a floating panel before a dialog opens; the titled window stays.
    void makeWayForDialog();

    bool isOpen() const { return m_open; }
    MenuBarPanel* panel() const { return m_panel; }

    void showPanel();
    void hidePanel();
    // The shortcut, the single-instance call and the menu entry.
    void toggle();
    // A click on the tray icon: the click that just closed the panel does not reopen it.
    void toggleFromTray();

    // A tray click this soon after the panel closed itself belongs to that closing.
    static constexpr int reopenGuardMs = 300;

    static QList<ScreenArea> screenAreas(int* primary);

Q_SIGNALS:
    void openChanged(bool open);
    // The titled window (no tray) was closed by the user.
    void windowClosed();

private:
    void onHidden();
    void followContent();
    void followScreens();
    void watchScreen(QScreen* screen);
    int fittingHeight() const;
    void setOpen(bool open);

    PortMonitor& m_monitor;
    QPointer<MenuBarPanel> m_panel;
    AnchorSource m_anchor;
    std::optional<PanelPlacement> m_placement;
    QElapsedTimer m_sinceAutomaticClose;
    bool m_open = false;
    bool m_blocked = false;
};

} // namespace varlo
