// Paints the brand mark into the PNG icons a desktop picks from, with the same
// drawing code as the interface, so the build needs no SVG renderer.
//   varlo-render-icons OUTPUT_FOLDER SIZE...
// writes OUTPUT_FOLDER/<size>x<size>/apps/app.varlo.Varlo.png for each size.
#include "services/AppId.h"
#include "views/BrandMark.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        // The corner radius of the scalable icon (57.6 of 256).
        varlo::paintBrandMark(painter, QRectF(0, 0, size, size), size * 0.225);
        painter.end();

        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(output).arg(size);
        const QString path = folder + QLatin1Char('/') + QLatin1String(varlo::appId) + QLatin1String(".png");
        if (!QDir().mkpath(folder) || !image.save(path, "PNG")) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
