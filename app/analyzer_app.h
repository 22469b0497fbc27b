// CAnalyzerApp: starts the toolkit, runs the main window modally, ends the program.
#pragma once

#include "app/command_line.h"

namespace quillon {

class CAnalyzerDlg;

class CAnalyzerApp {
public:
    /// Runs the whole program; returns the process exit status.
    int Run(int argc, char** argv);
    /// Shows the main window modally; always false (no message loop of our own follows).
    bool InitInstance();

private:
    /// One capture without a user, the window saved as a picture. GUI thread.
    int RunUnattended();
    /// The command line's settings for the window, before its initialisation.
    void ApplyOptions(CAnalyzerDlg& dlg) const;
    /// Only the waveform viewer on m_options.openFile (a screenshot of it when asked).
    int RunViewer();

    AppOptions m_options;
    int m_nExitCode = 0;
};

} // namespace quillon
