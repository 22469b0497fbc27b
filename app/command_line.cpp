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
                       "Messages go to standard error."),
        QStringLiteral("file"));
    const QCommandLineOption replyDelay(
        QStringLiteral("reply-delay"),
        QStringLiteral("Reply wait after the identification and reset commands, in ms "
                       "(default 30), for an analyzer that answers more slowly."),
        QStringLiteral("ms"));
    parser.addOptions({help, version, demo, screenshot, replyDelay});
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
    options.demo = parser.isSet(demo);
    options.screenshot = parser.value(screenshot);
    return options;
}

} // namespace quillon
