#include "views/PanelParts.h"

#include "views/Style.h"

#include <QEvent>
#include <QFontMetricsF>
#include <cmath>
#include <QPainter>
#include <QVariantAnimation>

namespace varlo {

namespace {

constexpr int spinnerStepMs = 80;
constexpr int spinnerStepDegrees = 30;
constexpr int chevronTurnMs = 200;

} // namespace

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QWidget(parent), m_mode(mode)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString ElidedLabel::oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return line;
}

void ElidedLabel::setText(const QString& text)
{
    const QString line = oneLine(text);
    if (line == m_text)
        return;
    const QSize before = sizeHint();
    m_text = line;
    setAccessibleName(m_text);
    // A text of the same width needs no layout pass, only a repaint.
    if (sizeHint() != before)
        updateGeometry();
    update();
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(m_text, m_mode, width());
}

QSize ElidedLabel::sizeHint() const
{
    // Rounded up: eliding compares the fractional advance with the whole-pixel width.
    const int advance = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_text)));
    return {m_text.isEmpty() ? 0 : advance + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {std::min(sizeHint().width(), fontMetrics().horizontalAdvance(QStringLiteral("\u2026")) * 3),
            fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    // Text-direction of the content, not of the layout, so right-to-left names read correctly.
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeading | Qt::TextSingleLine, shownText());
}

void ElidedLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

Spinner::Spinner(int size, QWidget* parent) : QWidget(parent)
{
    setFixedSize(size, size);
    m_timer.setInterval(spinnerStepMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + spinnerStepDegrees) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max(1.5, width() / 9.0);
    const QRectF box = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    QColor track = style::labelColor(style::Label::Tertiary, palette());
    painter.setPen(QPen(style::withOpacity(track, 0.4), pen));
    painter.drawEllipse(box);
    painter.setPen(QPen(style::labelColor(style::Label::Secondary, palette()), pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -m_angle * 16, 100 * 16);
}

void Spinner::showEvent(QShowEvent* event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

QLabel* plainLabel(const QString& text, const QFont& font, const style::Ink& ink, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    style::setTextInk(label, ink);
    return label;
}

ElidedLabel* elidedLabel(Qt::TextElideMode mode, const QFont& font, const style::Ink& ink, QWidget* parent)
{
    auto* label = new ElidedLabel(mode, parent);
    label->setFont(font);
    style::setTextInk(label, ink);
    return label;
}

QColor separatorColor(const QPalette& palette)
{
    return style::withOpacity(palette.color(QPalette::WindowText), 0.12);
}

Divider::Divider(int indent, QWidget* parent) : QWidget(parent), m_indent(indent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect line = layoutDirection() == Qt::RightToLeft ? rect().adjusted(0, 0, -m_indent, 0)
                                                            : rect().adjusted(m_indent, 0, 0, 0);
    painter.fillRect(line, separatorColor(palette()));
}

Dot::Dot(int size, const style::Ink& ink, QWidget* parent) : QWidget(parent), m_ink(ink)
{
    setFixedSize(size, size);
}

void Dot::setInk(const style::Ink& ink)
{
    if (ink == m_ink)
        return;
    m_ink = ink;
    update();
}

void Dot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_ink.resolve(palette()));
    painter.drawEllipse(QRectF(rect()));
}

CapsuleLabel::CapsuleLabel(const style::Ink& fill, QWidget* parent) : QLabel(parent), m_fill(fill)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
}

void CapsuleLabel::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_fill.resolve(palette()));
        const qreal radius = height() / 2.0;
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
    }
    QLabel::paintEvent(event);
}

ChevronView::ChevronView(QWidget* parent) : QWidget(parent), m_turn(new QVariantAnimation(this))
{
    const int edge = style::symbolSize(style::font(style::TextStyle::Caption2));
    setFixedSize(edge, edge);
    m_turn->setDuration(chevronTurnMs);
    m_turn->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_angle = value.toReal();
        update();
    });
}

void ChevronView::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    const qreal target = expanded ? 180.0 : 0.0;
    m_turn->stop();
    if (isVisible()) {
        m_turn->setStartValue(m_angle);
        m_turn->setEndValue(target);
        m_turn->start();
    } else {
        m_angle = target;
        update();
    }
}

void ChevronView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(width() / 2.0, height() / 2.0);
    painter.rotate(m_angle);
    painter.translate(-width() / 2.0, -height() / 2.0);
    const style::Ink ink = style::Ink::label(style::Label::Secondary).withOpacity(m_expanded ? 0.7 : 0.35);
    style::symbolIcon(style::Symbol::ChevronDown, ink).paint(&painter, rect());
}

} // namespace varlo
