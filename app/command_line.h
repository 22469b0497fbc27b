// The program's command line: none at all for the usual window, or a few extras.
#pragma once

#include <QString>
#include <QStringList>

namespace quillon {

struct AppOptions {
    bool demo = false;  ///< start an emulated analyzer in-process and use it
    QString screenshot; ///< unattended: one capture, save the window as PNG, exit
    QString replyDelay; ///< the reply wait's start-up text in ms; empty: "30"
    QString openFile;   ///< only the waveform viewer on this capture file (--open or FILE)
    /// Decoders for the viewer's picture (-P, as quillon-cli takes them), instead of none.
    QStringList decoders;
    bool exitNow = false; ///< --help or --version was answered, or the arguments were wrong
    int exitCode = 0;
    QString output; ///< what to print when exitNow
};

/// Reads the arguments (argv[0] included). No arguments: the window as it has always been.
AppOptions ParseAppOptions(const QStringList& arguments);

} // namespace quillon
