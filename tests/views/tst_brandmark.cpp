#include "views/BrandMark.h"

#include <QPainter>
#include <QSvgRenderer>
#include <QTest>
#include <QtMath>

using namespace varlo;

namespace {

QImage canvas(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage brandMark(int size, qreal radius)
{
    QImage image = canvas(QSize(size, size));
    QPainter painter(&image);
    paintBrandMark(painter, QRectF(0, 0, size, size), radius);
    return image;
}

// A point of the wheel's 18-unit design box, given as a radius and an angle in degrees.
QPointF polar(qreal radius, qreal degrees)
{
    const qreal a = qDegreesToRadians(degrees);
    return {9 + radius * qCos(a), 9 + radius * qSin(a)};
}

} // namespace

class BrandMarkTest : public QObject
{
    Q_OBJECT

private slots:
    void wheelShapes_data()
    {
        QTest::addColumn<QPointF>("point"); // in design units
        QTest::addColumn<bool>("inked");
        QTest::newRow("hub") << QPointF(9, 9) << true;
        QTest::newRow("spoke at 0°") << polar(4, 0) << true;
        QTest::newRow("spoke at 135°") << polar(4, 135) << true;
        QTest::newRow("between spokes") << polar(3.6, 22.5) << false;
        QTest::newRow("rim between spokes") << polar(6.5, 22.5) << true;
        QTest::newRow("handle at 90°") << polar(7.9, 90) << true;
        QTest::newRow("handle at 315°") << polar(7.9, 315) << true;
        QTest::newRow("between handles") << polar(8, 22.5) << false;
        QTest::newRow("box corner") << QPointF(1, 1) << false;
    }
    void wheelShapes()
    {
        QFETCH(QPointF, point);
        QFETCH(bool, inked);
        // A wide box: the wheel is 72 px square in its middle.
        const QRectF box(10, 0, 120, 72);
        const QPointF origin(10 + (120 - 72) / 2.0, 0);
        const QColor ink(30, 140, 90);
        QImage image = canvas(QSize(140, 72));
        QPainter painter(&image);
        const QPen pen(Qt::blue, 3);
        painter.setPen(pen);
        paintWheelGlyph(painter, box, ink);
        // The caller's painter is left as it was.
        QCOMPARE(painter.transform(), QTransform());
        QCOMPARE(painter.pen(), pen);
        painter.end();
        const QPoint pixel = (origin + point * 4.0).toPoint();
        const QColor color = image.pixelColor(pixel);
        if (inked) {
            QCOMPARE(color.alpha(), 255);
            QCOMPARE(color.rgb(), ink.rgb());
        } else {
            QCOMPARE(color.alpha(), 0);
        }
    }

    void brandMarkCorners_data()
    {
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<bool>("cornerClear");
        QTest::newRow("about, radius 18") << 18.0 << true;
        QTest::newRow("square") << 0.0 << false;
    }
    void brandMarkCorners()
    {
        QFETCH(qreal, radius);
        QFETCH(bool, cornerClear);
        QImage image = canvas(QSize(80, 80));
        QPainter painter(&image);
        paintBrandMark(painter, QRectF(0, 0, 80, 80), radius);
        QCOMPARE(painter.brush(), QBrush());
        painter.end();
        for (const QPoint corner : {QPoint(1, 1), QPoint(78, 1), QPoint(1, 78), QPoint(78, 78)})
            QCOMPARE(image.pixelColor(corner).alpha() == 0, cornerClear);
        // The white wheel on a coloured ground that runs from light to dark.
        QCOMPARE(image.pixelColor(40, 40), QColor(Qt::white));
        const QColor topLeft = image.pixelColor(14, 14), bottomRight = image.pixelColor(66, 66);
        QVERIFY(topLeft.hslSaturation() > 100 && bottomRight.hslSaturation() > 100);
        QVERIFY(qGray(topLeft.rgb()) > qGray(bottomRight.rgb()) + 30);
    }

    void viewShowsTheMark()
    {
        BrandMarkView view(28, 6);
        QCOMPARE(view.size(), QSize(28, 28));
        QCOMPARE(view.maximumSize(), view.minimumSize());
        const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage expected = brandMark(28, 6);
        QCOMPARE(shown.pixelColor(14, 14), expected.pixelColor(14, 14));
        QCOMPARE(shown.pixelColor(4, 24), expected.pixelColor(4, 24));
    }

    void svgDrawsTheSameMark()
    {
        QSvgRenderer svg(QStringLiteral(VARLO_BRAND_SVG));
        QVERIFY(svg.isValid());
        const int size = 128;
        QImage fromSvg = canvas(QSize(size, size));
        QPainter svgPainter(&fromSvg);
        svg.render(&svgPainter, QRectF(0, 0, size, size));
        svgPainter.end();
        const QImage painted = brandMark(size, size * 18.0 / 80.0);
        int differing = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb a = fromSvg.pixel(x, y), b = painted.pixel(x, y);
                const int delta = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                            std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
                differing += delta > 40;
            }
        }
        QVERIFY2(differing < 12, qPrintable(QString::number(differing)));
    }
};

QTEST_MAIN(BrandMarkTest)
#include "tst_brandmark.moc"
