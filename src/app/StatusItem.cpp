#include "app/StatusItem.h"

#include <QApplication>
#include <QMenu>

namespace varlo {

StatusItem::StatusItem(QObject* parent) : QObject(parent) {}

StatusItem::~StatusItem() = default;

void StatusItem::create()
{
    if (m_icon)
        return;
    m_menu = std::make_unique<QMenu>();
    m_toggleAction = m_menu->addAction(tr("Open Varlo"), this, &StatusItem::toggleRequested);
    m_menu->addAction(tr("Settings…"), this, &StatusItem::settingsRequested);
    m_menu->addSeparator();
    m_menu->addAction(tr("Quit"), this, &StatusItem::quitRequested);

    const qint64 count = m_title.lastCount().value_or(0);
    m_icon = new QSystemTrayIcon(trayIcon(count), this);
    m_icon->setToolTip(TrayTitle::toolTip(count));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, &StatusItem::onActivated);
    m_icon->show();
}

void StatusItem::updateTitle(qint64 count)
{
    if (!m_title.update(count) || !m_icon)
        return;
    m_icon->setIcon(trayIcon(count));
    m_icon->setToolTip(TrayTitle::toolTip(count));
}

void StatusItem::setPanelOpen(bool open)
{
    if (m_toggleAction)
        m_toggleAction->setText(open ? tr("Close Varlo") : tr("Open Varlo"));
}

QRect StatusItem::geometry() const
{
    return m_icon ? m_icon->geometry() : QRect();
}

void StatusItem::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        m_sinceTrigger.start();
        break;
    case QSystemTrayIcon::DoubleClick:
        // An XEmbed double click arrives as Trigger then DoubleClick: one gesture, one toggle.
        if (m_sinceTrigger.isValid() && m_sinceTrigger.elapsed() <= QApplication::doubleClickInterval())
            return;
        break;
    case QSystemTrayIcon::MiddleClick:
        break;
    default:
        return;
    }
    Q_EMIT toggleRequested();
}

} // namespace varlo
