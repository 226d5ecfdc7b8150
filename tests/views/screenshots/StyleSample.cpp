// A gallery of the style helper: every symbol in every ink, the text styles,
// the label colours, the wheel and the brand mark.

#include "ScreenshotRegistry.h"
#include "views/BrandMark.h"
#include "views/Style.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

using namespace varlo;
using namespace varlo::style;

namespace {

class WheelView : public QWidget
{
public:
    explicit WheelView(int size) { setFixedSize(size, size); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        paintWheelGlyph(painter, rect(), labelColor(Label::Primary, palette()));
    }
};

struct NamedInk
{
    const char* name;
    Ink ink;
    const char* sample;
};

const NamedInk inks[] = {
    {"primary", Ink::label(Label::Primary), "Primary label"},
    {"secondary", Ink::label(Label::Secondary), "Secondary label"},
    {"tertiary", Ink::label(Label::Tertiary), "Tertiary label"},
    {"accent", Ink::accent(), "Accent: \u2713 copied"},
    {"red", Ink::tint(Tint::Red), "Red: Invalid \u2014 use commas and dashes"},
    {"orange", Ink::tint(Tint::Orange), "Orange: shared"},
    {"green", Ink::tint(Tint::Green), "Green: Active"},
    {"blue", Ink::tint(Tint::Blue), "Blue: docker"},
};

QLabel* text(const QString& content, const QFont& font, const Ink& ink = Ink::label(Label::Primary))
{
    auto* label = new QLabel(content);
    label->setFont(font);
    setTextInk(label, ink);
    return label;
}

QGridLayout* symbolGrid()
{
    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    int column = 1;
    for (const NamedInk& named : inks)
        grid->addWidget(
            text(QString::fromLatin1(named.name), font(TextStyle::Caption2), Ink::label(Label::Secondary)), 0,
            column++, Qt::AlignCenter);
    grid->addWidget(text(QStringLiteral("disabled"), font(TextStyle::Caption2), Ink::label(Label::Secondary)),
                    0, column, Qt::AlignCenter);
    int row = 1;
    for (const Symbol symbol : allSymbols) {
        grid->addWidget(text(symbolName(symbol), font(TextStyle::Caption)), row, 0);
        column = 1;
        for (const NamedInk& named : inks)
            grid->addWidget(symbolButton(symbol, symbolName(symbol), named.ink), row, column++,
                            Qt::AlignCenter);
        QToolButton* disabled = symbolButton(symbol, symbolName(symbol));
        disabled->setEnabled(false);
        grid->addWidget(disabled, row, column, Qt::AlignCenter);
        ++row;
    }
    return grid;
}

QVBoxLayout* textColumn()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    QFont title = font(TextStyle::Title);
    title.setBold(true);
    column->addWidget(text(QStringLiteral("Varlo (title, bold)"), title));
    column->addWidget(text(QStringLiteral("Headline"), font(TextStyle::Headline)));
    column->addWidget(text(QStringLiteral("Body, the application font"), font(TextStyle::Body)));
    column->addWidget(text(QStringLiteral("Callout"), font(TextStyle::Callout)));
    column->addWidget(text(QStringLiteral("Caption"), font(TextStyle::Caption)));
    column->addWidget(text(QStringLiteral("Caption 2"), font(TextStyle::Caption2)));
    column->addWidget(text(QStringLiteral("10-point semibold"), systemFont(10, QFont::DemiBold)));
    QFont port = monospaced(font(TextStyle::Body));
    port.setWeight(QFont::DemiBold);
    column->addWidget(text(QStringLiteral("3000  monospaced semibold"), port));
    column->addWidget(
        text(QStringLiteral("0123456789  digits of one width"), monospacedDigits(font(TextStyle::Body))));
    column->addSpacing(8);
    for (const NamedInk& named : inks)
        column->addWidget(text(QString::fromUtf8(named.sample), font(TextStyle::Caption), named.ink));
    column->addWidget(text(QStringLiteral("Blue at 80 %: docker"), font(TextStyle::Caption),
                           Ink::tint(Tint::Blue).withOpacity(0.8)));
    column->addSpacing(8);
    auto* marks = new QHBoxLayout;
    marks->addWidget(new WheelView(18), 0, Qt::AlignBottom);
    marks->addWidget(new WheelView(36), 0, Qt::AlignBottom);
    marks->addWidget(new BrandMarkView(28, 6), 0, Qt::AlignBottom);
    marks->addWidget(new BrandMarkView(80, 18), 0, Qt::AlignBottom);
    marks->addStretch();
    column->addLayout(marks);
    column->addStretch();
    return column;
}

const screenshots::Registration sample(QStringLiteral("style-sample"), [] {
    auto page = std::make_unique<QWidget>();
    auto* layout = new QHBoxLayout(page.get());
    layout->setSpacing(24);
    layout->addLayout(symbolGrid());
    layout->addLayout(textColumn());
    return page;
});

} // namespace
