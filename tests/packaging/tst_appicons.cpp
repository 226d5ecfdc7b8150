#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The icons varlo-render-icons paints: the mark fills the whole square, with
// the scalable icon's rounded corners and the white hub in the middle.
class TstAppIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shape_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("16") << 16;
        QTest::newRow("512") << 512;
    }
    void shape()
    {
        QFETCH(int, size);
        QTemporaryDir output;
        QProcess render;
        render.start(QStringLiteral(VARLO_RENDER_ICONS), {output.path(), QString::number(size)});
        QVERIFY(render.waitForFinished(30000) && render.exitCode() == 0);

        const QImage icon(output.filePath(QStringLiteral("%1x%1/apps/app.varlo.Varlo.png").arg(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        const auto alpha = [&icon, size](qreal x, qreal y) {
            return qAlpha(icon.pixel(std::min(int(x * size), size - 1), std::min(int(y * size), size - 1)));
        };
        QCOMPARE(alpha(0, 0), 0); // a rounded corner
        QCOMPARE(alpha(1, 1), 0);
        QCOMPARE(alpha(0.09, 0.09), 255); // inside the corner's curve
        QCOMPARE(alpha(0, 0.5), 255);     // edge to edge
        QCOMPARE(alpha(0.5, 0), 255);
        QCOMPARE(alpha(1, 0.5), 255);
        QCOMPARE(alpha(0.5, 1), 255);
        if (size >= 64)
            QCOMPARE(icon.pixelColor(size / 2, size / 2), QColor(Qt::white));
    }
};

QTEST_GUILESS_MAIN(TstAppIcons)
#include "tst_appicons.moc"
