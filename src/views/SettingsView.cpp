#include "views/SettingsView.h"

#include "monitor/PortMonitor.h"
#include "views/AboutView.h"
#include "views/HistorySettingsView.h"
#include "views/PortsSettingsView.h"
#include "views/PrefsSettingsView.h"
#include "views/Style.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

namespace varlo {

using namespace style;

// A tab bar over pages of which only the current one is shown: a QTabWidget or QStackedWidget
// would be as tall as its tallest page (their height-for-width counts hidden pages too).
SettingsView::SettingsView(const SettingsContext& context, QWidget* parent)
    : QWidget(parent), m_tabBar(new QTabBar), m_pages(new QWidget)
{
    Q_ASSERT(context.settings);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The window takes the size its content asks for, so it follows the selected tab.
    column->setSizeConstraint(QLayout::SetFixedSize);
    m_tabBar->setDocumentMode(true);
    m_tabBar->setExpanding(false);
    m_tabBar->setDrawBase(true);
    column->addWidget(m_tabBar, 0, Qt::AlignHCenter);
    m_pages->setFixedWidth(width);
    auto* pages = new QVBoxLayout(m_pages);
    pages->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_pages);

    PortHistory* history = context.monitor ? &context.monitor->history() : nullptr;
    addPage(new PortsSettingsView(*context.settings), symbolIcon(Symbol::Network), tr("Ports"));
    addPage(new PrefsSettingsView(context), symbolIcon(Symbol::Gearshape), tr("General"));
    addPage(new HistorySettingsView(history, *context.settings, retentionOptions),
            symbolIcon(Symbol::ClockArrowCirclepath), tr("History"));
    addPage(new AboutView, symbolIcon(Symbol::InfoCircle), tr("About"), Qt::AlignHCenter);
    connect(m_tabBar, &QTabBar::currentChanged, this, &SettingsView::followTab);
    followTab(0);
}

QWidget* SettingsView::page(int index) const
{
    return m_pages->layout()->itemAt(index)->widget();
}

int SettingsView::currentIndex() const
{
    return m_tabBar->currentIndex();
}

void SettingsView::setCurrentIndex(int index)
{
    m_tabBar->setCurrentIndex(index);
}

void SettingsView::addPage(QWidget* page, const QIcon& icon, const QString& title, Qt::Alignment alignment)
{
    m_tabBar->addTab(icon, title);
    page->hide();
    static_cast<QVBoxLayout*>(m_pages->layout())->addWidget(page, 0, alignment);
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // No field starts focused: the window's first focus goes to the tab bar, and once more
    // after the window manager has activated the window.
    m_tabBar->setFocus();
    QTimer::singleShot(0, this, [this] {
        if (QWidget* focused = QApplication::focusWidget();
            focused && isAncestorOf(focused) && qobject_cast<QLineEdit*>(focused))
            focused->clearFocus();
    });
}

void SettingsView::followTab(int index)
{
    // Focus left in a page that goes would move on to the next field, such as the shortcut
    // recorder, which starts recording on focus. Ending the edit is enough.
    if (QWidget* focused = QApplication::focusWidget(); focused && m_pages->isAncestorOf(focused))
        focused->clearFocus();
    for (int i = 0; i < m_tabBar->count(); ++i)
        page(i)->setVisible(i == index);
}

} // namespace varlo
