#include "Palettes.h"
#include "views/Style.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <cmath>

using namespace varlo;
using namespace varlo::style;
using varlo::test::darkPalette;
using varlo::test::lightPalette;

Q_DECLARE_METATYPE(varlo::style::Ink)
Q_DECLARE_METATYPE(varlo::style::Symbol)

namespace {

// WCAG contrast of `color` laid over the opaque `background`; an oracle of its own.
double contrastOver(const QColor& color, const QColor& background)
{
    const auto lin = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const auto luminance = [&](double r, double g, double b) {
        return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
    };
    const double a = color.alphaF();
    const double top = luminance(color.redF() * a + background.redF() * (1 - a),
                                 color.greenF() * a + background.greenF() * (1 - a),
                                 color.blueF() * a + background.blueF() * (1 - a));
    const double bottom = luminance(background.redF(), background.greenF(), background.blueF());
    return (std::max(top, bottom) + 0.05) / (std::min(top, bottom) + 0.05);
}

QPalette withColors(QPalette palette, QColor window, QColor text, QColor highlight)
{
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Highlight, highlight);
    }
    return palette;
}

// A light theme whose highlight is too pale to read as text on its window.
QPalette paleHighlightPalette()
{
    return withColors(lightPalette(), QColor(0xeff0f1), QColor(0x232629), QColor(0x3daee9));
}

// The fraction of pixels that are not transparent.
double coverage(const QImage& image)
{
    qsizetype covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += qAlpha(image.pixel(x, y)) > 0;
    return double(covered) / (image.width() * image.height());
}

// The colour of the most opaque pixel, unpremultiplied.
QColor strongestPixel(const QImage& image)
{
    QColor best(0, 0, 0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QColor c = image.pixelColor(x, y); c.alpha() > best.alpha())
                best = c;
    return best;
}

QImage painted(const QIcon& icon, QSize size, qreal ratio, QIcon::Mode mode = QIcon::Normal)
{
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    icon.paint(&painter, QRect(QPoint(), size), Qt::AlignCenter, mode);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool sameColor(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

} // namespace

class StyleTest : public QObject
{
    Q_OBJECT

    QFont m_appFont;

private slots:
    void initTestCase() { m_appFont = QApplication::font(); }
    void init()
    {
        QApplication::setPalette(lightPalette());
        QIcon::setThemeName(QString());
    }
    void cleanup() { QApplication::setFont(m_appFont); }

    void fontsScaleWithTheBody_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<QFont>("body");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("weight");
        QFont points9 = QApplication::font(), points16 = QApplication::font(),
              pixels20 = QApplication::font();
        points9.setPointSizeF(9);
        points16.setPointSizeF(16);
        pixels20.setPixelSize(20);
        QTest::newRow("body is the font itself") << font(TextStyle::Body, points16) << points16 << 1.0 << 400;
        QTest::newRow("headline: body size, semibold")
            << font(TextStyle::Headline, points9) << points9 << 1.0 << int(QFont::DemiBold);
        QTest::newRow("callout") << font(TextStyle::Callout, points16) << points16 << 12 / 13.0 << 400;
        QTest::newRow("caption") << font(TextStyle::Caption, points16) << points16 << 10 / 13.0 << 400;
        QTest::newRow("caption 2 on a pixel-sized font")
            << font(TextStyle::Caption2, pixels20) << pixels20 << 10 / 13.0 << 400;
        QTest::newRow("title") << font(TextStyle::Title, points9) << points9 << 22 / 13.0 << 400;
        QTest::newRow("10-point semibold")
            << systemFont(10, QFont::DemiBold, points16) << points16 << 10 / 13.0 << int(QFont::DemiBold);
        QTest::newRow("24-point on a pixel-sized font")
            << systemFont(24, QFont::Normal, pixels20) << pixels20 << 24 / 13.0 << 400;
        QFont pixel1 = QApplication::font();
        pixel1.setPixelSize(1);
        QTest::newRow("never below one pixel")
            << systemFont(6, QFont::Normal, pixel1) << pixel1 << 1.0 << 400;
    }
    void fontsScaleWithTheBody()
    {
        QFETCH(QFont, font);
        QFETCH(QFont, body);
        QFETCH(qreal, ratio);
        QFETCH(int, weight);
        if (body.pointSizeF() > 0)
            QVERIFY2(qAbs(font.pointSizeF() - body.pointSizeF() * ratio) < 0.01, qPrintable(font.toString()));
        else
            QCOMPARE(font.pixelSize(), qRound(body.pixelSize() * ratio));
        QCOMPARE(font.family(), body.family());
        QCOMPARE(int(font.weight()), weight);
    }

    void stylesFollowTheApplicationFont()
    {
        QFont larger = QApplication::font();
        larger.setPointSizeF(15);
        QApplication::setFont(larger);
        QCOMPARE(font(TextStyle::Caption).pointSizeF(), 15 * 10 / 13.0);
        QCOMPARE(systemFont(26).pointSizeF(), 30.0);
    }

    void monospacedKeepsSizeAndWeight()
    {
        QFont body = QApplication::font();
        body.setPointSizeF(11);
        body.setWeight(QFont::DemiBold);
        const QFont mono = monospaced(body);
        QVERIFY(QFontInfo(mono).fixedPitch());
        QCOMPARE(mono.pointSizeF(), 11.0);
        QCOMPARE(mono.weight(), QFont::DemiBold);
        // The desktop font's digits already share one width: it is kept.
        QCOMPARE(monospacedDigits(body), body);
    }

    void colorsAreLegible_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<Ink>("ink");
        QTest::addColumn<double>("minimum");
        const QPalette grey = withColors(lightPalette(), QColor(0x9a9a9a), QColor(0x1a1a1a), QColor(0xb0b0b0));
        const std::pair<const char*, QPalette> palettes[] = {
            {"light", lightPalette()}, {"dark", darkPalette()}, {"pale highlight", paleHighlightPalette()},
            {"grey window", grey}};
        const std::tuple<const char*, Ink, double> inks[] = {
            {"secondary", Ink::label(Label::Secondary), 4.5},
            {"tertiary", Ink::label(Label::Tertiary), 3.0},
            {"accent", Ink::accent(), 3.0},
            {"red", Ink::tint(Tint::Red), 3.0},
            {"orange", Ink::tint(Tint::Orange), 3.0},
            {"green", Ink::tint(Tint::Green), 3.0},
            {"blue", Ink::tint(Tint::Blue), 3.0},
        };
        for (const auto& [paletteName, palette] : palettes)
            for (const auto& [inkName, ink, minimum] : inks)
                QTest::addRow("%s on %s", inkName, paletteName) << palette << ink << minimum;
    }
    void colorsAreLegible()
    {
        QFETCH(QPalette, palette);
        QFETCH(Ink, ink);
        QFETCH(double, minimum);
        const QColor window = palette.color(QPalette::Window);
        // A theme cannot be read better than its own text.
        const double reachable = std::min(minimum, contrastOver(palette.color(QPalette::WindowText), window));
        const QColor color = ink.resolve(palette);
        QVERIFY2(contrastOver(color, window) >= reachable - 0.01,
                 qPrintable(QStringLiteral("%1 gives %2")
                                .arg(color.name(QColor::HexArgb))
                                .arg(contrastOver(color, window))));
    }

    void themeVariants()
    {
        QVERIFY(!isDark(paleHighlightPalette()));
        for (const QPalette& palette : {lightPalette(), darkPalette()}) {
            const QColor window = palette.color(QPalette::Window);
            QCOMPARE(labelColor(Label::Primary, palette), palette.color(QPalette::WindowText));
            const double secondary = contrastOver(labelColor(Label::Secondary, palette), window);
            const double tertiary = contrastOver(labelColor(Label::Tertiary, palette), window);
            // The levels stay apart, and a highlight that reads already is used as it is.
            QVERIFY(contrastOver(palette.color(QPalette::WindowText), window) > secondary * 1.3);
            QVERIFY(secondary > tertiary * 1.3);
            QCOMPARE(accentColor(palette), palette.color(QPalette::Highlight));
        }
        // A pale highlight is darkened just enough, keeping its hue.
        const QPalette pale = paleHighlightPalette();
        const double accent = contrastOver(accentColor(pale), pale.color(QPalette::Window));
        QVERIFY2(accent >= 3 && accent < 3.3, qPrintable(QString::number(accent)));
        QVERIFY(std::abs(accentColor(pale).hslHue() - pale.color(QPalette::Highlight).hslHue()) < 10);
        // Opacity multiplies: "secondary at 12 %" keeps secondary's own fade.
        const QColor secondary = labelColor(Label::Secondary, lightPalette());
        QCOMPARE(Ink::label(Label::Secondary).withOpacity(0.12).resolve(lightPalette()).alpha(),
                 qRound(secondary.alpha() * 0.12));
        QCOMPARE(withOpacity(QColor(0, 0, 200, 128), 0.5), QColor(0, 0, 200, 64));
        QCOMPARE(withOpacity(QColor(1, 2, 3), 1.5), QColor(1, 2, 3));
        // Hues are lighter on a dark theme, and keep their hue.
        for (const Tint tint : {Tint::Red, Tint::Orange, Tint::Green, Tint::Blue}) {
            const QColor onLight = tintColor(tint, lightPalette()), onDark = tintColor(tint, darkPalette());
            QVERIFY(onDark.lightnessF() > onLight.lightnessF() + 0.1);
            QVERIFY(std::abs(onDark.hslHue() - onLight.hslHue()) < 30);
        }
    }

    void textInkFollowsThePalette()
    {
        QWidget window;
        auto* container = new QWidget(&window);
        auto* label = new QLabel(QStringLiteral("x"), container);
        auto* nested = new QLabel(QStringLiteral("y"), label);
        setTextInk(container, Ink::label(Label::Secondary));
        setTextInk(label, Ink::label(Label::Tertiary));
        setTextInk(nested, Ink::accent());
        for (const QPalette& palette : {darkPalette(), lightPalette(), darkPalette()}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            for (const QPalette::ColorRole role :
                 {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
                QCOMPARE(container->palette().color(role), labelColor(Label::Secondary, palette));
                // Inks do not compound: the label is tertiary of the theme, not of its secondary parent.
                QCOMPARE(label->palette().color(role), labelColor(Label::Tertiary, palette));
                QCOMPARE(nested->palette().color(role), accentColor(palette));
            }
            QCOMPARE(label->palette().color(QPalette::Window), palette.color(QPalette::Window));
        }
        // Roles other than text follow the parent, also ones it sets itself.
        for (const QColor ground : {QColor(Qt::yellow), QColor(Qt::cyan)}) {
            QPalette own = window.palette();
            own.setColor(QPalette::Button, ground);
            window.setPalette(own);
            QCOMPARE(label->palette().color(QPalette::Button), ground);
        }
        setTextInk(label, Ink::tint(Tint::Red));
        QCOMPARE(label->palette().color(QPalette::WindowText), tintColor(Tint::Red, darkPalette()));
    }

    // Varlo's own drawings, used when the theme lacks the symbol; each 32 px in black is compared with
    // the strip in tests/views/data. A deliberate redesign replaces it with the symbols-actual.png written here.
    void symbolArt_data()
    {
        QTest::addColumn<int>("cell");
        for (int cell = 0; cell < int(allSymbols.size()); ++cell)
            QTest::newRow(qPrintable(symbolName(allSymbols[cell]))) << cell;
    }
    void symbolArt()
    {
        QFETCH(int, cell);
        const Symbol symbol = allSymbols[cell];
        const QColor ink(200, 30, 60);
        const QPixmap pixmap = symbolIcon(symbol, Ink::fixed(ink)).pixmap(QSize(16, 16), 2.0);
        QCOMPARE(pixmap.size(), QSize(32, 32));
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        const double covered = coverage(image);
        QVERIFY2(covered > 0.08 && covered < 0.9, qPrintable(QString::number(covered)));
        QVERIFY(sameColor(strongestPixel(image), ink));
        // Painting at ratio 2 draws device pixels, not a stretched 1x image; a wider box centres it.
        QCOMPARE(painted(symbolIcon(symbol, Ink::fixed(ink)), {16, 16}, 2.0), image);
        QCOMPARE(painted(symbolIcon(symbol, Ink::fixed(ink)), {48, 16}, 2.0).copy(32, 0, 32, 32), image);

        constexpr int edge = 32;
        const QImage reference = QImage(QStringLiteral(VARLO_SYMBOLS_REFERENCE))
                                     .convertToFormat(QImage::Format_ARGB32)
                                     .copy(cell * edge, 0, edge, edge);
        const auto drawn = [](Symbol s) {
            const QPixmap pixmap = symbolIcon(s, Ink::fixed(Qt::black)).pixmap(QSize(edge, edge), 1.0);
            return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        };
        const QImage black = drawn(symbol);
        int differing = 0;
        for (int y = 0; y < edge; ++y)
            for (int x = 0; x < edge; ++x)
                differing += std::abs(qAlpha(black.pixel(x, y)) - qAlpha(reference.pixel(x, y))) > 96;
        if (differing > 8) {
            QImage strip(edge * int(allSymbols.size()), edge, QImage::Format_ARGB32);
            strip.fill(Qt::transparent);
            QPainter painter(&strip);
            for (int each = 0; each < int(allSymbols.size()); ++each)
                painter.drawImage(edge * each, 0, drawn(allSymbols[each]));
            painter.end();
            strip.save(QStringLiteral("symbols-actual.png"));
        }
        QVERIFY2(differing <= 8, qPrintable(QStringLiteral("%1 pixels differ").arg(differing)));
    }

    void themeSymbolicIconsOnly_data()
    {
        QTest::addColumn<Symbol>("symbol");
        QTest::addColumn<bool>("themed");
        QTest::newRow("symbolic icon in the theme") << Symbol::ArrowClockwise << true;
        QTest::newRow("only a coloured icon in the theme") << Symbol::XmarkOctagon << false;
        QTest::newRow("no theme name") << Symbol::CircleFill << false;
        QTest::newRow("missing from the theme") << Symbol::Clock << false;
    }
    void themeSymbolicIconsOnly()
    {
        QFETCH(Symbol, symbol);
        QFETCH(bool, themed);
        QTemporaryDir themes;
        QVERIFY(themes.isValid());
        QDir folder(themes.path() + QStringLiteral("/varlo-test/16x16/actions"));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        QFile index(themes.path() + QStringLiteral("/varlo-test/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=varlo-test\nDirectories=16x16/actions\n\n"
                    "[16x16/actions]\nSize=16\nType=Scalable\nMinSize=8\nMaxSize=256\n");
        index.close();
        // The theme's icons are full squares, unlike any drawing of Varlo's.
        QImage square(16, 16, QImage::Format_ARGB32);
        square.fill(QColor(20, 160, 40));
        QVERIFY(
            square.save(folder.filePath(symbolThemeName(Symbol::ArrowClockwise) + QStringLiteral(".png"))));
        QVERIFY(square.save(folder.filePath(QStringLiteral("process-stop.png"))));

        const QColor ink(40, 60, 220);
        const QIcon icon = symbolIcon(symbol, Ink::fixed(ink));
        const QImage before = painted(icon, {16, 16}, 1.0);
        const QStringList searchPaths = QIcon::themeSearchPaths();
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(QStringLiteral("varlo-test"));
        const QImage image = painted(icon, {16, 16}, 2.0);
        QIcon::setThemeName(QString());
        QIcon::setThemeSearchPaths(searchPaths);

        QCOMPARE(coverage(image) > 0.99, themed);
        QVERIFY(sameColor(strongestPixel(image), ink));
        if (!themed)
            QCOMPARE(image, painted(icon, {16, 16}, 2.0));
        QCOMPARE(painted(icon, {16, 16}, 1.0), before);
    }

    void symbolInkFollowsPaletteAndMode_data()
    {
        QTest::addColumn<Ink>("ink");
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QColor>("expected");
        const QColor fixed(10, 120, 90);
        QTest::newRow("fixed") << Ink::fixed(fixed) << darkPalette() << int(QIcon::Normal) << fixed;
        QTest::newRow("primary, dark") << Ink::label(Label::Primary) << darkPalette() << int(QIcon::Normal)
                                       << labelColor(Label::Primary, darkPalette());
        QTest::newRow("secondary, dark") << Ink::label(Label::Secondary) << darkPalette()
                                         << int(QIcon::Active) << labelColor(Label::Secondary, darkPalette());
        QTest::newRow("red at 75 %, dark")
            << Ink::tint(Tint::Red).withOpacity(0.75) << darkPalette() << int(QIcon::Normal)
            << withOpacity(tintColor(Tint::Red, darkPalette()), 0.75);
        QTest::newRow("accent, disabled") << Ink::accent() << lightPalette() << int(QIcon::Disabled)
                                          << withOpacity(accentColor(lightPalette()), 0.4);
        QTest::newRow("fixed, selected") << Ink::fixed(fixed) << lightPalette() << int(QIcon::Selected)
                                         << lightPalette().color(QPalette::HighlightedText);
    }
    void symbolInkFollowsPaletteAndMode()
    {
        QFETCH(Ink, ink);
        QFETCH(QPalette, palette);
        QFETCH(int, mode);
        QFETCH(QColor, expected);
        // Made under another palette: the icon resolves its ink when it is painted.
        QApplication::setPalette(isDark(palette) ? lightPalette() : darkPalette());
        const QIcon icon = symbolIcon(Symbol::CircleFill, ink);
        QApplication::setPalette(palette);
        const QColor color = strongestPixel(painted(icon, {16, 16}, 1.0, QIcon::Mode(mode)));
        QVERIFY2(sameColor(color, expected),
                 qPrintable(color.name(QColor::HexArgb) + u' ' + expected.name(QColor::HexArgb)));
    }

    void symbolButtons_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << QStringLiteral("Copy localhost:3000");
        QTest::newRow("a tag") << QStringLiteral("Stop container <img src=x>");
        QTest::newRow("entity-like") << QStringLiteral("a &amp; b < c");
        QTest::newRow("two lines") << QStringLiteral("first\nsecond");
    }
    void symbolButtons()
    {
        QFETCH(QString, title);
        const std::unique_ptr<QToolButton> button(symbolButton(Symbol::Power, title, Ink::tint(Tint::Red)));
        QCOMPARE(button->accessibleName(), title);
        // QToolTip decides by Qt::mightBeRichText; it must take the markup and show the text.
        QVERIFY(Qt::mightBeRichText(button->toolTip()));
        QTextDocument tip;
        tip.setHtml(button->toolTip());
        QCOMPARE(tip.toPlainText().replace(QChar::LineSeparator, u'\n'), title);
        QVERIFY(button->focusPolicy() & Qt::TabFocus);
        QVERIFY(sameColor(strongestPixel(painted(button->icon(), {16, 16}, 1.0)),
                          tintColor(Tint::Red, lightPalette())));
        QVERIFY(plainToolTip(QString()).isEmpty());
    }
};

QTEST_MAIN(StyleTest)
#include "tst_style.moc"
