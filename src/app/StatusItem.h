#pragma once

#include "app/TrayIconArt.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <memory>

class QAction;
class QMenu;

namespace varlo {

// The tray icon: the wheel with the count badge, its tooltip and its menu.
// Made only once a tray host exists (see TrayHostWatcher).
class StatusItem : public QObject
{
    Q_OBJECT

public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    void create();
    bool exists() const { return m_icon != nullptr; }

    // Redraws the badge and tooltip when the count changed.
    void updateTitle(qint64 count);
    // Names the first menu entry after what it would do.
    void setPanelOpen(bool open);
    // The icon on screen; empty where the host does not say (StatusNotifierItem).
    QRect geometry() const;

Q_SIGNALS:
    void toggleRequested();
    void settingsRequested();
    void quitRequested();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    std::unique_ptr<QMenu> m_menu; // parentless: a tray menu must not belong to a window
    QAction* m_toggleAction = nullptr;
    QSystemTrayIcon* m_icon = nullptr;
    TrayTitle m_title;
    QElapsedTimer m_sinceTrigger;
};

} // namespace varlo
