#include "app/PanelController.h"

#include "app/X11Desktop.h"
#include "monitor/PortMonitor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace varlo {

namespace {

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

MenuBarPanel::Mode trayMode()
{
    return onWayland() ? MenuBarPanel::Mode::floating : MenuBarPanel::Mode::popup;
}

} // namespace

PanelController::PanelController(PortMonitor& monitor, QWidget* content, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_panel(new MenuBarPanel(content))
{
    m_panel->setMode(trayMode());
    m_panel->setCompositing(onWayland() || x11::compositorRunning());
    m_anchor = [] { return QRect(QCursor::pos(), QSize(1, 1)); };
    connect(m_panel, &MenuBarPanel::hidden, this, &PanelController::onHidden);
    connect(m_panel, &MenuBarPanel::contentResized, this, &PanelController::followContent);
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        followScreens();
    });
    connect(app, &QGuiApplication::screenRemoved, this, &PanelController::followScreens);
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
}

void PanelController::watchScreen(QScreen* screen)
{
    connect(screen, &QScreen::availableGeometryChanged, this, &PanelController::followScreens);
}

void PanelController::followScreens()
{
    // Screens came, went or moved under the open panel: hang it from the icon again.
    if (!m_open || !m_placement)
        return;
    int primary = -1;
    const QList<ScreenArea> screens = screenAreas(&primary);
    if (const auto placement = placePanel(m_anchor(), screens, primary, fittingHeight())) {
        m_placement = placement;
        m_panel->setGeometry(placement->geometry);
    }
}

PanelController::~PanelController()
{
    m_panel->disconnect(this);
    delete m_panel.data();
}

QList<ScreenArea> PanelController::screenAreas(int* primary)
{
    QList<ScreenArea> areas;
    const QList<QScreen*> screens = QGuiApplication::screens();
    *primary = static_cast<int>(screens.indexOf(QGuiApplication::primaryScreen()));
    for (QScreen* screen : screens)
        areas.append({screen->geometry(), screen->availableGeometry()});
    return areas;
}

int PanelController::fittingHeight() const
{
    return m_panel->content()->sizeHint().height();
}

void PanelController::setWindowMode(bool windowMode)
{
    const MenuBarPanel::Mode wanted = windowMode ? MenuBarPanel::Mode::window : trayMode();
    if (m_panel->mode() == wanted)
        return;
    if (m_open)
        hidePanel();
    m_panel->setMode(wanted);
    if (windowMode)
        showPanel();
}

void PanelController::setBlocked(bool blocked)
{
    m_blocked = blocked;
    if (blocked)
        makeWayForDialog();
}

void PanelController::makeWayForDialog()
{
    if (m_panel->mode() != MenuBarPanel::Mode::window)
        hidePanel();
}

void PanelController::showPanel()
{
    if (m_open || m_blocked)
        return;
    m_panel->content()->ensurePolished();
    const int fitting = fittingHeight();
    m_placement.reset();
    if (m_panel->mode() == MenuBarPanel::Mode::popup) {
        int primary = -1;
        const QList<ScreenArea> screens = screenAreas(&primary);
        m_placement = placePanel(m_anchor(), screens, primary, fitting);
        if (!m_placement)
            return;
        m_panel->setGeometry(m_placement->geometry);
    } else {
        // The compositor places the window; only its size is ours.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const int half = screen ? screen->availableGeometry().height() / 2 : unmeasuredPanelHeight;
        const int wanted = fitting < 10 ? unmeasuredPanelHeight : fitting;
        m_panel->resize(panelWidth, std::min(wanted, half));
    }
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_panel->setFocus(Qt::PopupFocusReason);
    setOpen(true);
}

void PanelController::hidePanel()
{
    if (!m_open)
        return;
    setOpen(false);
    m_panel->hide();
}

void PanelController::toggle()
{
    if (m_open)
        hidePanel();
    else
        showPanel();
}

void PanelController::toggleFromTray()
{
    if (!m_open && m_sinceAutomaticClose.isValid() && m_sinceAutomaticClose.elapsed() < reopenGuardMs)
        return;
    toggle();
}

void PanelController::onHidden()
{
    // Hidden while we think it open: the user closed it (hidePanel clears the state first).
    if (!m_open)
        return;
    setOpen(false);
    if (m_panel->mode() == MenuBarPanel::Mode::window)
        Q_EMIT windowClosed();
    else
        m_sinceAutomaticClose.start();
}

void PanelController::followContent()
{
    if (!m_open)
        return;
    const int fitting = fittingHeight();
    if (!m_placement) {
        // Placed by the compositor or the user: only the height follows.
        const QScreen* screen = m_panel->screen();
        const int half = screen ? screen->availableGeometry().height() / 2 : fitting;
        if (fitting > 10 && std::min(fitting, half) != m_panel->height())
            m_panel->resize(m_panel->width(), std::min(fitting, half));
        return;
    }
    int primary = -1;
    const QList<ScreenArea> screens = screenAreas(&primary);
    if (const auto next = varlo::followContent(*m_placement, m_panel->geometry(), screens, primary, fitting))
        m_panel->setGeometry(*next);
}

void PanelController::setOpen(bool open)
{
    if (m_open == open)
        return;
    m_open = open;
    m_monitor.setPanelOpen(open);
    Q_EMIT openChanged(open);
}

} // namespace varlo
