// Parsing quillon's options.
#include "app/command_line.h"

#include "ui/strings.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace quillon {

namespace {
constexpr int kMaxReplyDelayMs = 60'000;
}

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
    const QCommandLineOption replyDelay(
        QStringLiteral("reply-delay"),
        QStringLiteral("Reply wait after the identification and reset commands, in ms "
                       "(default 30), for an analyzer that answers more slowly."),
        QStringLiteral("ms"));
    const QCommandLineOption open(
        QStringLiteral("open"),
        QStringLiteral("Open only the waveform viewer on a saved capture (VCD or CSV), "
                       "without searching for the analyzer. With --screenshot, save the "
                       "viewer (1280 x 720, whole capture) as a PNG file and exit."),
        QStringLiteral("file"));
    const QCommandLineOption decoders(
        {QStringLiteral("P"), QStringLiteral("protocol-decoders")},
        QStringLiteral("With --open and --screenshot: decode the capture with these protocol "
                       "decoders in the picture, written as for quillon-cli (e.g. "
                       "uart:rx=D8:baudrate=115200). Give it again for more decoders. Without "
                       "it the picture shows none, whatever the viewer keeps for the user."),
        QStringLiteral("decoders"));
    parser.addOptions({help, version, demo, screenshot, replyDelay, open, decoders});
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
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 || (!files.isEmpty() && parser.isSet(open))) {
        options.exitNow = true;
        options.exitCode = 2;
        options.output = QStringLiteral("quillon: unexpected argument '%1'\n").arg(files.last());
        return options;
    }
    if (parser.isSet(replyDelay)) {
        bool bNumber = false;
        const int ms = parser.value(replyDelay).toInt(&bNumber);
        if (!bNumber || ms < 0 || ms > kMaxReplyDelayMs) {
            options.exitNow = true;
            options.exitCode = 2;
            options.output =
                QStringLiteral("quillon: --reply-delay needs milliseconds from 0 to %1, not '%2'\n")
                    .arg(kMaxReplyDelayMs)
                    .arg(parser.value(replyDelay));
            return options;
        }
        options.replyDelay = QString::number(ms);
    }
    options.openFile = parser.isSet(open) ? parser.value(open) : files.value(0);
    options.decoders = parser.values(decoders);
    if (!options.decoders.isEmpty() && (options.openFile.isEmpty() || !parser.isSet(screenshot))) {
        options.exitNow = true;
        options.exitCode = 2;
        options.output = QStringLiteral("quillon: -P needs --open FILE and --screenshot\n");
        return options;
    }
    options.demo = parser.isSet(demo);
    options.screenshot = parser.value(screenshot);
    return options;
}

} // namespace quillon
