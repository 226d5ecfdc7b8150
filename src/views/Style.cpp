#include "views/Style.h"

#include "views/SymbolArt.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QTextDocument>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <optional>

namespace varlo::style {

namespace {

// The body size the design's point sizes are relative to.
constexpr qreal designBodyPoints = 13.0;

// Opacity of the text colour for each label level, and the contrast on the
// window each must keep (themes with pale text get a stronger shade).
struct LabelShade
{
    qreal opacity;
    double minimumContrast;
};
constexpr LabelShade labelShades[] = {{1.0, 1.0}, {0.6, 4.5}, {0.45, 3.0}};

// Accent and hues are used for short labels and symbols.
constexpr double minimumTintContrast = 3.0;

// Light-theme and dark-theme variants of the fixed hues, in Tint order.
constexpr QRgb tintsOnLight[] = {0xD12F24, 0xB85300, 0x1B8A3A, 0x1F6FD6};
constexpr QRgb tintsOnDark[] = {0xFF6B5E, 0xFFA24A, 0x4CCB6C, 0x5AA8FF};

constexpr qreal disabledSymbolOpacity = 0.4;

QFont scaled(const QFont& body, qreal points)
{
    QFont font = body;
    const qreal factor = points / designBodyPoints;
    if (body.pointSizeF() > 0)
        font.setPointSizeF(std::max(1.0, body.pointSizeF() * factor));
    else
        font.setPixelSize(std::max(1, qRound(body.pixelSize() * factor)));
    return font;
}

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) + 0.0722 * channel(rgb.blue());
}

// `color` as it shows over the opaque `background`.
QColor over(const QColor& color, const QColor& background)
{
    const qreal a = color.alphaF();
    const auto mix = [a](int top, int bottom) { return qRound(top * a + bottom * (1 - a)); };
    const QColor top = color.toRgb(), bottom = background.toRgb();
    return QColor(mix(top.red(), bottom.red()), mix(top.green(), bottom.green()),
                  mix(top.blue(), bottom.blue()));
}

double contrast(const QColor& color, const QColor& background)
{
    const double a = luminance(over(color, background)), b = luminance(background);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor mixed(const QColor& from, const QColor& to, qreal t)
{
    const QColor a = from.toRgb(), b = to.toRgb();
    const auto mix = [t](int x, int y) { return qRound(x + (y - x) * t); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()),
                  mix(a.alpha(), b.alpha()));
}

// Moves `color` towards the palette's text colour in small steps until it reaches `minimum`
// contrast on the window; a theme whose own text fails stops at its text colour.
QColor legible(const QColor& color, const QPalette& palette, double minimum)
{
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    constexpr int steps = 20;
    QColor result = color;
    for (int i = 1; i <= steps && contrast(result, window) < minimum; ++i)
        result = mixed(color, text, qreal(i) / steps);
    return result;
}

QColor inkColor(const Ink& ink, QIcon::Mode mode)
{
    const QPalette palette = QGuiApplication::palette();
    switch (mode) {
    case QIcon::Selected:
        return palette.color(QPalette::HighlightedText);
    case QIcon::Disabled:
        return withOpacity(ink.resolve(palette), disabledSymbolOpacity);
    case QIcon::Normal:
    case QIcon::Active:
        break;
    }
    return ink.resolve(palette);
}

// Draws a symbol from the icon theme or Varlo's art, recoloured with its ink
// at every paint so that palette changes reach icons already handed out.
class SymbolEngine : public QIconEngine
{
public:
    SymbolEngine(Symbol symbol, const Ink& ink) : m_symbol(symbol), m_ink(ink) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawImage(rect, render(rect.size(), ratio, mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        return QPixmap::fromImage(render(size, 1.0, mode));
    }

    QIconEngine* clone() const override { return new SymbolEngine(*this); }
    QString key() const override { return QStringLiteral("VarloSymbol"); }
    QString iconName() override { return symbolThemeName(m_symbol); }

private:
    QImage render(const QSize& logical, qreal ratio, QIcon::Mode mode)
    {
        QImage image(logical * ratio, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return image;
        image.fill(Qt::transparent);
        image.setDevicePixelRatio(ratio);
        const qreal side = std::min(logical.width(), logical.height());
        const QRectF box((logical.width() - side) / 2, (logical.height() - side) / 2, side, side);
        QPainter painter(&image);
        if (const QIcon themed = themeIcon(); !themed.isNull())
            themed.paint(&painter, box.toAlignedRect());
        else
            paintSymbolArt(painter, box, m_symbol);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(), QSizeF(logical)), inkColor(m_ink, mode));
        return image;
    }

    // Only the theme's monochrome icon: a coloured one would recolour into a blot.
    // QIcon::fromTheme falls back from "a-b-symbolic" to "a-b", so ask first.
    QIcon themeIcon()
    {
        const QString theme = QIcon::themeName();
        if (theme != m_themeName) {
            m_themeName = theme;
            const QString name = symbolThemeName(m_symbol);
            m_themed = !name.isEmpty() && QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : QIcon();
        }
        return m_themed;
    }

    Symbol m_symbol;
    Ink m_ink;
    // The theme last looked in; none before the first paint.
    std::optional<QString> m_themeName;
    QIcon m_themed;
};

// Keeps a widget's text roles in its ink, resolved on the palette it inherits.
class InkKeeper : public QObject
{
    Q_OBJECT

public:
    InkKeeper(QWidget* widget, const Ink& ink) : QObject(widget), m_widget(widget), m_ink(ink)
    {
        widget->installEventFilter(this);
    }

    void setInk(const Ink& ink)
    {
        m_ink = ink;
        apply();
    }

    // Only the text roles are set, so every other role goes on following the parent. Setting
    // an equal palette is a no-op in Qt, so the PaletteChange this sends settles at once.
    void apply()
    {
        const QColor color = m_ink.resolve(basePalette());
        QPalette palette;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            for (const QPalette::ColorRole role :
                 {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                palette.setColor(group, role, color);
        }
        m_widget->setPalette(palette);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_widget)
            return false;
        switch (event->type()) {
        case QEvent::PaletteChange:
        case QEvent::ParentChange:
            apply();
            break;
        case QEvent::ApplicationPaletteChange:
            // A new theme that changes only the text colour sends this widget, whose text roles
            // are all set, no PaletteChange; its ancestors may not have their new palettes yet.
            QMetaObject::invokeMethod(this, &InkKeeper::apply, Qt::QueuedConnection);
            break;
        default:
            break;
        }
        return false;
    }

private:
    // The palette of the nearest ancestor without an ink of its own, so that inks do not compound.
    QPalette basePalette() const
    {
        for (const QWidget* w = m_widget->parentWidget(); w; w = w->parentWidget()) {
            if (!w->findChild<InkKeeper*>(QString(), Qt::FindDirectChildrenOnly))
                return w->palette();
        }
        return QApplication::palette(m_widget);
    }

    QWidget* m_widget;
    Ink m_ink;
};

struct SymbolNames
{
    const char* design;
    const char* theme;
};

// Theme names are the freedesktop and GNOME names whose "-symbolic" icons draw the
// same idea; the rest have no good counterpart in common themes and are always drawn.
constexpr SymbolNames symbolNames[] = {
    {"arrow.clockwise", "view-refresh"},
    {"xmark.octagon", "process-stop"},
    {"clock", "preferences-system-time"},
    {"gearshape", "emblem-system"},
    {"power", "system-shutdown"},
    {"checkmark.circle", "emblem-ok"},
    {"exclamationmark.triangle.fill", "dialog-warning"},
    {"chevron.down", "pan-down"},
    {"arrow.up.right.square", nullptr},
    {"xmark.circle.fill", nullptr},
    {"shippingbox", "package-x-generic"},
    {"square.stack", nullptr},
    {"cpu", nullptr},
    {"memorychip", nullptr},
    {"arrow.triangle.branch", nullptr},
    {"network", "network-wired"},
    {"clock.arrow.circlepath", "document-open-recent"},
    {"info.circle", "help-about"},
    {"minus.circle.fill", nullptr},
    {"bell.slash.fill", "notifications-disabled"},
    {"circle.fill", nullptr},
};
static_assert(std::size(symbolNames) == allSymbols.size());

} // namespace

QFont font(TextStyle style, const QFont& body)
{
    switch (style) {
    case TextStyle::Body:
        return body;
    case TextStyle::Headline:
        return systemFont(13, QFont::DemiBold, body);
    case TextStyle::Callout:
        return scaled(body, 12);
    case TextStyle::Caption:
    case TextStyle::Caption2:
        return scaled(body, 10);
    case TextStyle::Title:
        return scaled(body, 22);
    }
    return body;
}

QFont systemFont(qreal points, QFont::Weight weight, const QFont& body)
{
    QFont font = scaled(body, points);
    font.setWeight(weight);
    return font;
}

QFont monospaced(const QFont& base)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF());
    else
        font.setPixelSize(base.pixelSize());
    font.setWeight(base.weight());
    font.setItalic(base.italic());
    return font;
}

QFont monospacedDigits(const QFont& base)
{
    const QFontMetricsF metrics(base);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (!qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(digit)), zero))
            return monospaced(base);
    }
    return base;
}

bool isDark(const QPalette& palette)
{
    return luminance(palette.color(QPalette::WindowText)) > luminance(palette.color(QPalette::Window));
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(std::clamp(color.alphaF() * opacity, 0.0, 1.0));
    return color;
}

Ink Ink::fixed(const QColor& color)
{
    Ink ink(Kind::Fixed, 0);
    ink.m_fixed = color.rgba();
    return ink;
}

Ink Ink::withOpacity(qreal opacity) const
{
    Ink ink = *this;
    ink.m_opacity *= opacity;
    return ink;
}

QColor Ink::resolve(const QPalette& palette) const
{
    QColor color;
    switch (m_kind) {
    case Kind::Label: {
        const LabelShade shade = labelShades[m_which];
        const QColor text = palette.color(QPalette::WindowText);
        const QColor window = palette.color(QPalette::Window);
        qreal opacity = shade.opacity;
        // Pale theme text: raise the opacity until the shade reads again.
        while (opacity < 1.0 && contrast(style::withOpacity(text, opacity), window) < shade.minimumContrast)
            opacity = std::min(1.0, opacity + 0.05);
        color = style::withOpacity(text, opacity);
        break;
    }
    case Kind::Accent:
        color = legible(palette.color(QPalette::Highlight), palette, minimumTintContrast);
        break;
    case Kind::Tint:
        color = legible(QColor(isDark(palette) ? tintsOnDark[m_which] : tintsOnLight[m_which]), palette,
                        minimumTintContrast);
        break;
    case Kind::Fixed:
        color = QColor::fromRgba(m_fixed);
        break;
    }
    return style::withOpacity(color, m_opacity);
}

void setTextInk(QWidget* widget, const Ink& ink)
{
    if (auto* keeper = widget->findChild<InkKeeper*>(QString(), Qt::FindDirectChildrenOnly))
        keeper->setInk(ink);
    else
        (new InkKeeper(widget, ink))->apply();
}

QString symbolName(Symbol symbol)
{
    return QString::fromLatin1(symbolNames[static_cast<int>(symbol)].design);
}

QString symbolThemeName(Symbol symbol)
{
    const char* theme = symbolNames[static_cast<int>(symbol)].theme;
    return theme ? QString::fromLatin1(theme) + QStringLiteral("-symbolic") : QString();
}

QIcon symbolIcon(Symbol symbol, const Ink& ink)
{
    return QIcon(new SymbolEngine(symbol, ink));
}

int symbolSize(const QFont& font)
{
    // A symbol set in a font stands a little taller than its em.
    return qRound(QFontInfo(font).pixelSize() * 1.2);
}

QToolButton* symbolButton(Symbol symbol, const QString& title, const Ink& ink, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol, ink));
    const int edge = symbolSize(font(TextStyle::Body));
    button->setIconSize(QSize(edge, edge));
    button->setAutoRaise(true);
    button->setToolTip(plainToolTip(title));
    button->setAccessibleName(title);
    return button;
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

} // namespace varlo::style

#include "Style.moc"
