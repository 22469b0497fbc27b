// Parsing quillon's options.
#include "app/command_line.h"

#include "ui/strings.h"

#include <QCommandLineParser>

namespace quillon {

AppOptions ParseAppOptions(const QStringList& arguments) {
    AppOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Front end of the QuillonLa16 16-channel USB logic analyzer.\n"
                       "Without options it searches the serial ports for the analyzer and "
                       "opens its window.\nEnvironment: QUILLON_PORTS=\"COM1=/dev/ttyACM0;...\" "
                       "names the ports to search."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Use a built-in emulated analyzer."));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Unattended: capture once, save the window as a PNG file, exit. "
                       "Messages go to standard error."),
        QStringLiteral("file"));
    const QCommandLineOption open(
        QStringLiteral("open"),
        QStringLiteral("Open only the waveform viewer on a saved capture (VCD or CSV), "
                       "without searching for the analyzer. With --screenshot, save the "
                       "viewer (1280 x 720, whole capture) as a PNG file and exit."),
        QStringLiteral("file"));
    parser.addOptions({help, version, demo, screenshot, open});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A capture file to view, as with --open."),
                                 QStringLiteral("[file]"));
    if (!parser.parse(arguments)) {
        options.exitNow = true;
        options.exitCode = 2;
        options.output = parser.errorText() + QStringLiteral("\n");
        return options;
    }
    if (parser.isSet(help)) {
        options.exitNow = true;
        options.output = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.exitNow = true;
        options.output = QStringLiteral("quillon %1\n").arg(QString::fromLatin1(kAppVersion));
        return options;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 || (!files.isEmpty() && parser.isSet(open))) {
        options.exitNow = true;
        options.exitCode = 2;
        options.output = QStringLiteral("quillon: unexpected argument '%1'\n").arg(files.last());
        return options;
    }
    options.openFile = parser.isSet(open) ? parser.value(open) : files.value(0);
    options.demo = parser.isSet(demo);
    options.screenshot = parser.value(screenshot);
    return options;
}

} // namespace quillon
