#pragma once

#include <QColor>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace varlo {

// Varlo's wheel (the tray glyph) in `color`, centred in the largest square that fits `box`.
void paintWheelGlyph(QPainter& painter, const QRectF& box, const QColor& color);
// The brand mark filling `box`: the wheel in white on a gradient square with corners of `radius`.
void paintBrandMark(QPainter& painter, const QRectF& box, qreal radius);

// The brand mark as a fixed-size widget (28 with radius 6 in the panel, 80 with 18 in About).
class BrandMarkView : public QWidget
{
public:
    BrandMarkView(int size, qreal radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
};

} // namespace varlo
