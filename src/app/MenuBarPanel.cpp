#include "app/MenuBarPanel.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace varlo {

MenuBarPanel::MenuBarPanel(QWidget* content, QWidget* parent) : QWidget(parent), m_content(content)
{
    m_content->setParent(this);
    setWindowTitle(QStringLiteral("Varlo"));
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_content);
    applyFlags();
}

void MenuBarPanel::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    applyFlags(); // new flags hide the window
}

void MenuBarPanel::setCompositing(bool compositing)
{
    m_compositing = compositing;
    applyFlags();
}

void MenuBarPanel::applyFlags()
{
    switch (m_mode) {
    case Mode::popup:
        setWindowFlags(Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
        break;
    case Mode::floating:
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        break;
    case Mode::window:
        setWindowFlags(Qt::Window);
        break;
    }
    const bool translucent = m_compositing && m_mode != Mode::window;
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setAttribute(Qt::WA_NoSystemBackground, translucent);
}

bool MenuBarPanel::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::LayoutRequest:
        Q_EMIT contentResized();
        break;
    case QEvent::WindowDeactivate:
        if (m_mode == Mode::floating && isVisible() && m_sinceShown.isValid() &&
            m_sinceShown.elapsed() >= deactivationGraceMs)
            hide();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void MenuBarPanel::showEvent(QShowEvent* event)
{
    m_sinceShown.start();
    QWidget::showEvent(event);
}

void MenuBarPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    Q_EMIT hidden();
}

void MenuBarPanel::resizeEvent(QResizeEvent* event)
{
    m_content->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void MenuBarPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    if (!testAttribute(Qt::WA_TranslucentBackground)) {
        painter.fillRect(rect(), background);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(background);
    painter.drawPath(shape);
}

} // namespace varlo
