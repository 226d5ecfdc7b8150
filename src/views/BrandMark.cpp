#include "views/BrandMark.h"

#include <QLinearGradient>
#include <QPainter>
#include <QtMath>
#include <algorithm>

namespace varlo {

namespace {

// The wheel is designed in an 18-unit box; data/icons/app.varlo.Varlo.svg draws the same shapes.
constexpr qreal wheelBox = 18.0;
constexpr qreal wheelCentre = 9.0;

// The wheel takes the middle three quarters of the brand mark.
constexpr qreal brandInset = 1.0 / 8.0;
constexpr QRgb brandTop = 0x2BB6D6;
constexpr QRgb brandBottom = 0x2F4FD8;

void radialLines(QPainter& painter, qreal from, qreal to, qreal width, const QColor& color)
{
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    for (int k = 0; k < 8; ++k) {
        const qreal angle = k * M_PI / 4;
        const QPointF direction(qCos(angle), qSin(angle));
        const QPointF centre(wheelCentre, wheelCentre);
        painter.drawLine(centre + from * direction, centre + to * direction);
    }
}

} // namespace

void paintWheelGlyph(QPainter& painter, const QRectF& box, const QColor& color)
{
    const qreal side = std::min(box.width(), box.height());
    if (side <= 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center() - QPointF(side / 2, side / 2));
    painter.scale(side / wheelBox, side / wheelBox);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color, 1.6));
    painter.drawEllipse(QRectF(2.5, 2.5, 13, 13));
    radialLines(painter, 2.0, 5.7, 1.3, color);
    radialLines(painter, 7.3, 8.2, 1.7, color);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QPointF(wheelCentre, wheelCentre), 1.7, 1.7);
    painter.restore();
}

void paintBrandMark(QPainter& painter, const QRectF& box, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(box.topLeft(), box.bottomRight());
    gradient.setColorAt(0, QColor(brandTop));
    gradient.setColorAt(1, QColor(brandBottom));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(box, radius, radius);
    const qreal inset = std::min(box.width(), box.height()) * brandInset;
    paintWheelGlyph(painter, box.adjusted(inset, inset, -inset, -inset), Qt::white);
    painter.restore();
}

BrandMarkView::BrandMarkView(int size, qreal radius, QWidget* parent) : QWidget(parent), m_radius(radius)
{
    setFixedSize(size, size);
}

void BrandMarkView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBrandMark(painter, rect(), m_radius);
}

} // namespace varlo
