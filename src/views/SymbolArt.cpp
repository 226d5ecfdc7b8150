#include "views/SymbolArt.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace varlo::style {

namespace {

// Drawings are made on a 16-unit grid, centre (8, 8).
constexpr qreal grid = 16.0;

void stroke(QPainter& p, qreal width)
{
    QPen pen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
}

void fill(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
}

// Later strokes erase instead of paint: the cut-out marks of filled symbols.
void erase(QPainter& p, qreal width)
{
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    stroke(p, width);
}

void line(QPainter& p, qreal x1, qreal y1, qreal x2, qreal y2)
{
    p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

void polyline(QPainter& p, std::initializer_list<QPointF> points)
{
    p.drawPolyline(QPolygonF(QList<QPointF>(points)));
}

void circle(QPainter& p, qreal cx, qreal cy, qreal r)
{
    p.drawEllipse(QPointF(cx, cy), r, r);
}

// The outline circle of the symbols drawn in a circle; leaves the pen for the inner mark.
void ring(QPainter& p)
{
    stroke(p, 1.4);
    circle(p, 8, 8, 6.6);
}

QPointF onCircle(QPointF centre, qreal radius, qreal degrees)
{
    const qreal a = qDegreesToRadians(degrees);
    return {centre.x() + radius * qCos(a), centre.y() - radius * qSin(a)};
}

// An open arc from `start` degrees sweeping `sweep` degrees (counter-clockwise positive).
void arc(QPainter& p, QPointF centre, qreal radius, qreal start, qreal sweep)
{
    QPainterPath path(onCircle(centre, radius, start));
    path.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), start, sweep);
    p.drawPath(path);
}

void gear(QPainter& p)
{
    QPainterPath path;
    const QPointF c(8, 8);
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * 45.0;
        const QPointF points[] = {onCircle(c, 5.3, a - 17), onCircle(c, 7.3, a - 9), onCircle(c, 7.3, a + 9),
                                  onCircle(c, 5.3, a + 17)};
        for (const QPointF& point : points) {
            if (path.elementCount() == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
    }
    path.closeSubpath();
    path.addEllipse(c, 2.4, 2.4);
    path.setFillRule(Qt::OddEvenFill);
    fill(p);
    p.drawPath(path);
}

void bell(QPainter& p)
{
    QPainterPath body(QPointF(8, 1.8));
    body.cubicTo(11.2, 1.8, 12.4, 4.5, 12.4, 7.2);
    body.lineTo(12.4, 9.6);
    body.lineTo(14, 11.8);
    body.lineTo(2, 11.8);
    body.lineTo(3.6, 9.6);
    body.lineTo(3.6, 7.2);
    body.cubicTo(3.6, 4.5, 4.8, 1.8, 8, 1.8);
    body.addEllipse(QPointF(8, 13.2), 1.9, 1.3);
    fill(p);
    p.drawPath(body);
    // The slash, with a gap cut around it.
    erase(p, 3.2);
    line(p, 1.8, 1.8, 14.2, 14.2);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    stroke(p, 1.4);
    line(p, 2, 2, 14, 14);
}

void globe(QPainter& p)
{
    stroke(p, 1.3);
    circle(p, 8, 8, 6.6);
    stroke(p, 1.1);
    p.drawEllipse(QPointF(8, 8), 2.8, 6.6);
    line(p, 1.4, 8, 14.6, 8);
    line(p, 2.9, 4.6, 13.1, 4.6);
    line(p, 2.9, 11.4, 13.1, 11.4);
}

void chevronUp(QPainter& p, qreal x, qreal y)
{
    polyline(p, {{x - 2.2, y + 2.2}, {x, y}, {x + 2.2, y + 2.2}});
}

} // namespace

void paintSymbolArt(QPainter& painter, const QRectF& box, Symbol symbol)
{
    QPainter& p = painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(box.topLeft());
    p.scale(box.width() / grid, box.height() / grid);
    switch (symbol) {
    case Symbol::ArrowClockwise: {
        const QPointF c(8, 8.8);
        stroke(p, 1.5);
        arc(p, c, 5.6, 30, -300);
        fill(p);
        p.drawPolygon(QPolygonF({QPointF(10.6, 3.2), QPointF(7.4, 0.6), QPointF(7.4, 5.8)}));
        break;
    }
    case Symbol::XmarkOctagon: {
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i)
            octagon << onCircle({8, 8}, 7.0, 22.5 + 45.0 * i);
        stroke(p, 1.4);
        p.drawPolygon(octagon);
        line(p, 5.6, 5.6, 10.4, 10.4);
        line(p, 10.4, 5.6, 5.6, 10.4);
        break;
    }
    case Symbol::Clock:
        ring(p);
        polyline(p, {{8, 4.2}, {8, 8}, {10.7, 9.6}});
        break;
    case Symbol::Gearshape:
        gear(p);
        break;
    case Symbol::Power:
        stroke(p, 1.6);
        arc(p, {8, 8.7}, 5.6, 120, 300);
        line(p, 8, 1.6, 8, 7.4);
        break;
    case Symbol::CheckmarkCircle:
        ring(p);
        polyline(p, {{5.2, 8.3}, {7.2, 10.3}, {10.9, 6.1}});
        break;
    case Symbol::ExclamationmarkTriangleFill: {
        // A wide pen on the fill rounds the corners.
        p.setPen(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::black);
        p.drawPolygon(QPolygonF({QPointF(8, 1.6), QPointF(14.8, 13.9), QPointF(1.2, 13.9)}));
        erase(p, 1.7);
        line(p, 8, 5.9, 8, 9.4);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        circle(p, 8, 11.7, 1.0);
        break;
    }
    case Symbol::ChevronDown:
        stroke(p, 1.8);
        polyline(p, {{3.5, 6}, {8, 10.5}, {12.5, 6}});
        break;
    case Symbol::ArrowUpRightSquare:
        stroke(p, 1.4);
        p.drawRoundedRect(QRectF(1.8, 1.8, 12.4, 12.4), 3, 3);
        stroke(p, 1.5);
        line(p, 5.5, 10.5, 10.2, 5.8);
        polyline(p, {{6.6, 5.6}, {10.4, 5.6}, {10.4, 9.4}});
        break;
    case Symbol::XmarkCircleFill:
        fill(p);
        circle(p, 8, 8, 7.2);
        erase(p, 1.7);
        line(p, 5.5, 5.5, 10.5, 10.5);
        line(p, 10.5, 5.5, 5.5, 10.5);
        break;
    case Symbol::Shippingbox:
        stroke(p, 1.3);
        p.drawPolygon(QPolygonF({QPointF(8, 1.5), QPointF(14.2, 4.6), QPointF(14.2, 11.4), QPointF(8, 14.5),
                                 QPointF(1.8, 11.4), QPointF(1.8, 4.6)}));
        polyline(p, {{1.8, 4.6}, {8, 7.7}, {14.2, 4.6}});
        line(p, 8, 7.7, 8, 14.5);
        line(p, 4.9, 3.05, 11.1, 6.15);
        break;
    case Symbol::SquareStack:
        stroke(p, 1.4);
        p.drawRoundedRect(QRectF(2, 5.6, 12, 8.9), 2.2, 2.2);
        stroke(p, 1.3);
        line(p, 3.9, 3.5, 12.1, 3.5);
        line(p, 5.7, 1.5, 10.3, 1.5);
        break;
    case Symbol::Cpu:
        stroke(p, 1.3);
        p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.8, 1.8);
        stroke(p, 1.1);
        for (const qreal at : {6.0, 8.0, 10.0}) {
            line(p, at, 1.2, at, 3.5);
            line(p, at, 12.5, at, 14.8);
            line(p, 1.2, at, 3.5, at);
            line(p, 12.5, at, 14.8, at);
        }
        fill(p);
        p.drawRoundedRect(QRectF(6.1, 6.1, 3.8, 3.8), 0.7, 0.7);
        break;
    case Symbol::Memorychip:
        stroke(p, 1.3);
        p.drawRoundedRect(QRectF(1.3, 4, 13.4, 7), 1.2, 1.2);
        stroke(p, 1.1);
        for (const qreal x : {3.6, 5.8, 8.0, 10.2, 12.4})
            line(p, x, 11, x, 13.2);
        fill(p);
        for (const qreal x : {3.3, 6.9, 10.5})
            p.drawRect(QRectF(x, 6.1, 2.2, 2.8));
        break;
    case Symbol::ArrowTriangleBranch: {
        stroke(p, 1.5);
        line(p, 5, 14.5, 5, 2.6);
        chevronUp(p, 5, 2.4);
        QPainterPath branch(QPointF(5, 10.5));
        branch.cubicTo(5, 7.5, 11, 8, 11, 4.5);
        branch.lineTo(11, 2.6);
        p.drawPath(branch);
        chevronUp(p, 11, 2.4);
        break;
    }
    case Symbol::Network:
        globe(p);
        break;
    case Symbol::ClockArrowCirclepath: {
        const QPointF c(8.6, 8);
        stroke(p, 1.4);
        arc(p, c, 5.8, 230, 320);
        const QPointF head = onCircle(c, 5.8, 190);
        polyline(
            p,
            {{head.x() - 2.1, head.y() - 1.6}, {head.x(), head.y() + 0.6}, {head.x() + 2.1, head.y() - 1.6}});
        stroke(p, 1.3);
        polyline(p, {{8.6, 4.9}, {8.6, 8}, {10.8, 9.4}});
        break;
    }
    case Symbol::InfoCircle:
        ring(p);
        stroke(p, 1.6);
        line(p, 8, 7.3, 8, 11.4);
        fill(p);
        circle(p, 8, 4.9, 1.0);
        break;
    case Symbol::MinusCircleFill:
        fill(p);
        circle(p, 8, 8, 7.2);
        erase(p, 1.8);
        line(p, 4.7, 8, 11.3, 8);
        break;
    case Symbol::BellSlashFill:
        bell(p);
        break;
    case Symbol::CircleFill:
        fill(p);
        circle(p, 8, 8, 7.5);
        break;
    }
    p.restore();
}

} // namespace varlo::style
