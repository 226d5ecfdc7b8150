#include "app/TrayIconArt.h"

#include "views/BrandMark.h"

#include <QPainter>
#include <cmath>

namespace varlo {

namespace {

constexpr qint64 largestBadgeNumber = 99;
const QColor badgeFill(0xE5, 0x3E, 0x3E);

// The glyph alone in `color`, at the image's full size.
QImage glyphLayer(int size, qreal ratio, const QColor& color)
{
    QImage layer(QSize(size, size) * ratio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::Antialiasing);
    paintWheelGlyph(painter, QRectF(0, 0, size, size), color);
    return layer;
}

void paintBadge(QPainter& painter, int size, const QString& text)
{
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(7, qRound(size * 0.42)));
    painter.setFont(font);
    const qreal height = std::max(8.0, size * 0.56);
    const qreal width = std::max(height, QFontMetricsF(font).horizontalAdvance(text) + height * 0.45);
    const QRectF badge(size - width, size - height, width, height);

    // A white ring parts the badge from the glyph beneath it.
    painter.setPen(QPen(Qt::white, std::max(1.0, size / 24.0)));
    painter.setBrush(badgeFill);
    painter.drawRoundedRect(badge, height / 2, height / 2);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, text);
}

} // namespace

QString badgeText(qint64 count)
{
    if (count < 1)
        return {};
    if (count > largestBadgeNumber)
        return QStringLiteral("%1+").arg(largestBadgeNumber);
    return QString::number(count);
}

QImage renderTrayIcon(int size, qreal devicePixelRatio, qint64 count)
{
    QImage image(QSize(size, size) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The halo: the glyph in white, stamped around a small circle.
    const QImage halo = glyphLayer(size, devicePixelRatio, Qt::white);
    const qreal reach = std::max(1.0, size / 18.0);
    constexpr int stamps = 12;
    for (int i = 0; i < stamps; ++i) {
        const qreal angle = 2 * M_PI * i / stamps;
        painter.drawImage(QPointF(reach * std::cos(angle), reach * std::sin(angle)), halo);
    }
    painter.drawImage(QPointF(0, 0), glyphLayer(size, devicePixelRatio, Qt::black));

    const QString text = badgeText(count);
    if (!text.isEmpty())
        paintBadge(painter, size, text);
    return image;
}

QIcon trayIcon(qint64 count)
{
    QIcon icon;
    for (const int size : trayIconSizes) {
        icon.addPixmap(QPixmap::fromImage(renderTrayIcon(size, 1, count)));
        icon.addPixmap(QPixmap::fromImage(renderTrayIcon(size, 2, count)));
    }
    return icon;
}

QString TrayTitle::title(qint64 count)
{
    return count < 1 ? QString() : QStringLiteral(" %1").arg(count);
}

QString TrayTitle::toolTip(qint64 count)
{
    if (count < 1)
        return QStringLiteral("Varlo");
    if (count == 1)
        return QStringLiteral("Varlo: 1 port");
    return QStringLiteral("Varlo: %1 ports").arg(count);
}

bool TrayTitle::update(qint64 count)
{
    if (m_last == count)
        return false;
    m_last = count;
    return true;
}

} // namespace varlo
