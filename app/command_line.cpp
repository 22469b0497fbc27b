// Parsing quillon's options.
#include "app/command_line.h"

#include "ui/strings.h"

#include <QCommandLineParser>
#include <QFileInfo>

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
                       "Needs no display (the offscreen platform unless QT_QPA_PLATFORM says "
                       "otherwise). Messages go to standard error. Exit status: 0 captured, 1 "
                       "no analyzer found, 4 the file could not be written, 5 incomplete "
                       "capture (the picture is written all the same)."),
        QStringLiteral("file"));
    parser.addOptions({help, version, demo, screenshot});
    if (!parser.parse(arguments)) {
        options.exitNow = true;
        options.exitCode = 2;
        options.output = parser.errorText() + QStringLiteral("\n");
        return options;
    }
    if (parser.isSet(help)) {
        options.exitNow = true;
        // "Usage: quillon", not the path it was started by (the manual page is made from this).
        options.output = parser.helpText();
        if (!arguments.isEmpty()) {
            options.output.replace(arguments.first(), QFileInfo(arguments.first()).fileName());
        }
        return options;
    }
    if (parser.isSet(version)) {
        options.exitNow = true;
        options.output = QStringLiteral("quillon %1\n").arg(QString::fromLatin1(kAppVersion));
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.exitNow = true;
        options.exitCode = 2;
        options.output = QStringLiteral("quillon: unexpected argument '%1'\n")
                             .arg(parser.positionalArguments().first());
        return options;
    }
    options.demo = parser.isSet(demo);
    options.screenshot = parser.value(screenshot);
    return options;
}

} // namespace quillon
