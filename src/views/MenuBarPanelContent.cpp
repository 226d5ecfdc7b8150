#include "views/MenuBarPanelContent.h"

#include "services/DesktopSettings.h"
#include "views/MenubarView.h"
#include "views/Style.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace varlo {

namespace {

constexpr qreal cornerRadius = 12;
constexpr qreal borderWidth = 0.5;

} // namespace

MenuBarPanelContent::MenuBarPanelContent(PortMonitor& monitor, QWidget* parent)
    : QWidget(parent),
      m_view(new MenubarView(monitor, [] { DesktopSettings().open(DesktopSettings::Page::network); }, this))
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    connect(m_view, &MenubarView::settingsRequested, this, &MenuBarPanelContent::settingsRequested);
    connect(m_view, &MenubarView::quitRequested, this, &MenuBarPanelContent::quitRequested);
}

MenuBarPanelContent::~MenuBarPanelContent() = default;

void MenuBarPanelContent::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(borderWidth / 2, borderWidth / 2, -borderWidth / 2, -borderWidth / 2);
    painter.setPen(QPen(style::withOpacity(style::labelColor(style::Label::Primary, palette()), 0.08), borderWidth));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(box, cornerRadius, cornerRadius);
}

void MenuBarPanelContent::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        // Escape first closes the Kill All question, then the panel.
        if (!m_view->dismissKillAllConfirmation())
            Q_EMIT closeRequested();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool MenuBarPanelContent::event(QEvent* event)
{
    // The list's measured height reached this layout: tell the host.
    if (event->type() == QEvent::LayoutRequest)
        updateGeometry();
    return QWidget::event(event);
}

} // namespace varlo
