#pragma once

// The interface vocabulary (text styles, label and tint colours, symbols) in
// Qt terms. Sizes elsewhere in the views are device-independent pixels: one
// design point is one logical pixel.

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QString>
#include <array>

class QToolButton;
class QWidget;

namespace varlo::style {

// Text styles; their sizes follow the application font, which is the body style.
enum class TextStyle
{
    Body,
    Headline,
    Callout,
    Caption,
    Caption2,
    Title,
};

// The font of `style`, derived from `body` in the proportions of a 13-point body.
QFont font(TextStyle style, const QFont& body = QGuiApplication::font());
// "The N-point system font": `points` relative to a 13-point body, scaled like the text styles.
QFont systemFont(qreal points, QFont::Weight weight = QFont::Normal,
                 const QFont& body = QGuiApplication::font());
// `base` in the system's fixed-pitch family, at the same size and weight.
QFont monospaced(const QFont& base);
// `base` when its ten digits already share one width, else monospaced(base).
QFont monospacedDigits(const QFont& base);

// Label colours: the palette's text colour at falling opacity.
enum class Label
{
    Primary,
    Secondary,
    Tertiary,
};

// Fixed hues, with a light-theme and a dark-theme variant each.
enum class Tint
{
    Red,
    Orange,
    Green,
    Blue,
};

// True when the palette draws light text on a dark window.
bool isDark(const QPalette& palette);
// `color` with its opacity multiplied by `opacity` (so "secondary at 12 %" keeps secondary's own fade).
QColor withOpacity(QColor color, qreal opacity);

// A colour named by its role, resolved against a palette when drawn, so that it follows theme changes.
class Ink
{
public:
    // The primary label colour.
    Ink() = default;
    // A label colour.
    static Ink label(Label level) { return Ink(Kind::Label, static_cast<int>(level)); }
    // The palette's highlight, kept legible on the window.
    static Ink accent() { return Ink(Kind::Accent, 0); }
    // A fixed hue in its light or dark variant.
    static Ink tint(Tint tint) { return Ink(Kind::Tint, static_cast<int>(tint)); }
    // Exactly `color`, whatever the palette.
    static Ink fixed(const QColor& color);

    // This ink at `opacity` times its own opacity.
    Ink withOpacity(qreal opacity) const;
    // The colour on `palette`.
    QColor resolve(const QPalette& palette = QGuiApplication::palette()) const;

    bool operator==(const Ink& other) const = default;

private:
    enum class Kind
    {
        Label,
        Accent,
        Tint,
        Fixed,
    };
    Ink(Kind kind, int which) : m_kind(kind), m_which(which) {}

    Kind m_kind = Kind::Label;
    int m_which = static_cast<int>(Label::Primary);
    QRgb m_fixed = 0;
    qreal m_opacity = 1.0;
};

// A label colour on `palette`.
inline QColor labelColor(Label level, const QPalette& palette = QGuiApplication::palette())
{
    return Ink::label(level).resolve(palette);
}
// The accent colour on `palette`.
inline QColor accentColor(const QPalette& palette = QGuiApplication::palette())
{
    return Ink::accent().resolve(palette);
}
// A fixed hue on `palette`.
inline QColor tintColor(Tint tint, const QPalette& palette = QGuiApplication::palette())
{
    return Ink::tint(tint).resolve(palette);
}

// Draws `widget`'s text (WindowText, Text, ButtonText) in `ink`, again whenever its palette changes.
// The widget's palette is then these roles alone; the others follow its parent.
void setTextInk(QWidget* widget, const Ink& ink);

// Symbols the interface names, drawn by the icon theme or by Varlo.
enum class Symbol
{
    ArrowClockwise,
    XmarkOctagon,
    Clock,
    Gearshape,
    Power,
    CheckmarkCircle,
    ExclamationmarkTriangleFill,
    ChevronDown,
    ArrowUpRightSquare,
    XmarkCircleFill,
    Shippingbox,
    SquareStack,
    Cpu,
    Memorychip,
    ArrowTriangleBranch,
    Network,
    ClockArrowCirclepath,
    InfoCircle,
    MinusCircleFill,
    BellSlashFill,
    CircleFill,
};

// Every symbol, in declaration order.
inline constexpr std::array allSymbols = {
    Symbol::ArrowClockwise,
    Symbol::XmarkOctagon,
    Symbol::Clock,
    Symbol::Gearshape,
    Symbol::Power,
    Symbol::CheckmarkCircle,
    Symbol::ExclamationmarkTriangleFill,
    Symbol::ChevronDown,
    Symbol::ArrowUpRightSquare,
    Symbol::XmarkCircleFill,
    Symbol::Shippingbox,
    Symbol::SquareStack,
    Symbol::Cpu,
    Symbol::Memorychip,
    Symbol::ArrowTriangleBranch,
    Symbol::Network,
    Symbol::ClockArrowCirclepath,
    Symbol::InfoCircle,
    Symbol::MinusCircleFill,
    Symbol::BellSlashFill,
    Symbol::CircleFill,
};

// The symbol's design name, such as "arrow.clockwise".
QString symbolName(Symbol symbol);
// The icon-theme name looked up for the symbol ("view-refresh-symbolic"); empty when Varlo always draws it.
QString symbolThemeName(Symbol symbol);
// The symbol in `ink`: the icon theme's monochrome ("-symbolic") icon when it has one, else
// Varlo's drawing. Recoloured at every paint; sharp at any device pixel ratio. Disabled fades it.
QIcon symbolIcon(Symbol symbol, const Ink& ink = Ink::label(Label::Primary));
// The edge, in logical pixels, of a symbol set in `font` (a symbol "in the 13-point font").
int symbolSize(const QFont& font);

// A flat tool button showing only `symbol` in `ink`; `title` is its accessible name and tooltip.
QToolButton* symbolButton(Symbol symbol, const QString& title, const Ink& ink = Ink::label(Label::Primary),
                          QWidget* parent = nullptr);

// Tooltip markup that shows `text` literally, even when it looks like HTML.
QString plainToolTip(const QString& text);

} // namespace varlo::style
