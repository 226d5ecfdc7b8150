// varlo-screenshots: renders Varlo's interface in scripted states, in a light
// and a dark palette at scale 1 and 2, as PNG files in a given folder.

#include "Palettes.h"
#include "ScreenshotRegistry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>
#include <cstdio>

using namespace varlo;

namespace {

QImage render(QWidget& widget, int scale)
{
    QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    widget.render(&image);
    return image;
}

// Writes the four pictures of `state`; false, with a message, on the first failure.
bool write(const screenshots::State& state, const QDir& folder)
{
    const std::pair<const char*, QPalette> palettes[] = {{"light", test::lightPalette()},
                                                         {"dark", test::darkPalette()}};
    for (const auto& [paletteName, palette] : palettes) {
        QApplication::setPalette(palette);
        const std::unique_ptr<QWidget> widget = state.build();
        if (!widget) {
            std::fprintf(stderr, "%s: no widget\n", qPrintable(state.name));
            return false;
        }
        widget->show();
        QCoreApplication::processEvents();
        for (const int scale : {1, 2}) {
            const QString file = folder.filePath(QStringLiteral("%1-%2%3.png")
                                                     .arg(state.name, QLatin1String(paletteName),
                                                          scale == 1 ? QString() : QStringLiteral("@2x")));
            const QImage image = render(*widget, scale);
            if (image.isNull()) {
                std::fprintf(stderr, "%s: the widget has no size\n", qPrintable(state.name));
                return false;
            }
            if (!image.save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // A desktop-like application font, whatever the machine's default.
    QFont font = QApplication::font();
    font.setPointSize(10);
    QApplication::setFont(font);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Renders Varlo's interface in scripted states, light and dark, at scale 1 and 2, as PNG files."));
    parser.addHelpOption();
    const QCommandLineOption listOption(QStringLiteral("list"),
                                        QStringLiteral("Print the state names and exit."));
    parser.addOption(listOption);
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("Where the pictures go (created)."));
    parser.addPositionalArgument(QStringLiteral("state"), QStringLiteral("Only these states (default: all)."),
                                 QStringLiteral("[state...]"));
    parser.process(app);

    const QList<screenshots::State> states = screenshots::registeredStates();
    if (parser.isSet(listOption)) {
        for (const screenshots::State& state : states)
            std::printf("%s\n", qPrintable(state.name));
        return 0;
    }
    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "Usage: varlo-screenshots FOLDER [STATE...] (--help for more)\n");
        return 2;
    }
    const QDir folder(arguments.takeFirst());
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }
    for (const QString& wanted : std::as_const(arguments)) {
        if (std::none_of(states.begin(), states.end(),
                         [&](const auto& state) { return state.name == wanted; })) {
            std::fprintf(stderr, "no state named %s (--list shows them)\n", qPrintable(wanted));
            return 2;
        }
    }
    for (const screenshots::State& state : states) {
        if ((arguments.isEmpty() || arguments.contains(state.name)) && !write(state, folder))
            return 1;
    }
    return 0;
}
