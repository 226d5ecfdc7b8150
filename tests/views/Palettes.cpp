#include "Palettes.h"

#include <QStyle>
#include <QStyleFactory>
#include <memory>

namespace varlo::test {

QPalette lightPalette()
{
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

QPalette darkPalette()
{
    const QColor window(0x2a2e32), text(0xfcfcfc), dimText(0x70, 0x74, 0x78);
    QPalette palette(text, QColor(0x31363b), QColor(0x474d54), QColor(0x141618), QColor(0x1e2124), text,
                     QColor(0x1b1e20));
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::AlternateBase, QColor(0x232629));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x3daee9));
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::ToolTipBase, QColor(0x31363b));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, dimText);
    palette.setColor(QPalette::Link, QColor(0x1d99f3));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dimText);
    return palette;
}

} // namespace varlo::test
